// The service program Brevanta.
#include "service/core/agent.h"

int main() { return agent_main(); }
