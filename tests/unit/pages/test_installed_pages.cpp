// The installed UPS pages: every template variable of the UPS pages appears on some page, and
// every form page posts to a page the form layer knows.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include "service/pages/form_handlers.h"
#include "support/temp_dir.h"

namespace {

const char* const kVariables[] = {
    "SUM_HOST_NAME", "SUM_OS_DESC", "SUM_TRAP_PORT", "SUM_OS_COUNTDOWN", "SUM_SHUT_TYPE", "SUM_SOURCE_LIST",
    "SUM_SLOG_LIST", "SUM_SOURCE_NUM", "SUM_SLOG_NUM", "SUM_OS_CANCEL", "LOG_PAGE", "LOG_BUTTON", "LOG_ISPAGE",
    "LOG_ISDATE", "LOG_FROM", "LOG_TO", "LOG_SELECTID", "HCG_MAX_EVENTNUM", "HCG_MAX_DATANUM", "HCG_AE_INTERVAL",
    "HCG_AE_PATH", "CFG_PF_EN", "CFG_BL_EN", "CFG_OL_EN", "CFG_BP_EN", "CFG_SS_EN", "CFG_MSG_EN", "CFG_CMD_EN",
    "CFG_OSD_PF", "CFG_OSD_BL", "CFG_OSD_OL", "CFG_OSD_BP", "CFG_OSD_SS", "CFG_SRC_LIST", "CFG_MSG_PERIOD",
    "CFG_CMD_FILE", "CFG_CMD_BEFORE", "CFG_FUNC_LOAD", "CFG_SRC_LOGICAL", "CFG_TRAP_PORT", "CFG_SHUT_TYPE",
    "CFG_SNMP_PORT", "CFG_USM_CONTEXT", "CFG_MAG_EN", "CFG_VM_EN", "CFG_VM_TYPE", "CFG_VM_HOST", "CFG_VM_ACCOUNT",
    "CFG_VM_PASSWORD", "CFG_VM_VCLI", "CFG_CLUSTER_LIST", "CFG_GS_EN", "FWD_TARGET_LIST", "FWD_FUNC_LOAD",
    "ACS_SOURCE_LIST", "ACS_FUNC_LOAD", "USM_USER_LIST", "USM_FUNC_LOAD", "NOT_DELAY", "DBG_TX_OK", "DBG_TX_ERR",
    "DBG_RX_OK", "DBG_RX_TIMEOUT", "DBG_RX_CSERR", "DBG_RX_OVERFLOW", "DBG_RX_PARSEERR", "DBG_VER_OS",
    "DBG_VER_NMC", "DBG_VER_UPS", "DBG_COM_LOG", "DBG_COM_FILE",
};

struct Pages {
  std::set<std::string> tags;     // every "<% name %>" of the pages
  std::set<std::string> actions;  // every "/orvik/<page>" a form posts to
};

Pages scan() {
  Pages p;
  std::regex tag("<% ([^ %]+) %>"), action("action=\"/orvik/([a-z_0-9]+)\"");
  std::string root = std::string(VELLMAR_SOURCE_DIR) + "/data/httpd/htdocs";
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    std::string ext = e.path().extension().string();
    if (ext != ".asp" && ext != ".xml") continue;
    std::string text = read_file(e.path().string());
    for (auto it = std::sregex_iterator(text.begin(), text.end(), tag); it != std::sregex_iterator(); ++it)
      p.tags.insert((*it)[1]);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), action); it != std::sregex_iterator(); ++it)
      p.actions.insert((*it)[1]);
  }
  return p;
}

TEST(InstalledPages, EveryVariableAppearsOnAPage) {
  Pages p = scan();
  EXPECT_EQ(sizeof kVariables / sizeof kVariables[0], 71u);
  for (const char* v : kVariables) EXPECT_TRUE(p.tags.count(v)) << v << " is on no installed page";
}

TEST(InstalledPages, EveryFormPageIsKnown) {
  Pages p = scan();
  std::set<std::string> system = {"login", "sys_user", "sys_info", "sys_web", "language"};
  std::set<std::string> ups(FIFO_GROUP_POST, FIFO_GROUP_POST + POST_PAGE_COUNT);
  for (const std::string& a : p.actions) EXPECT_TRUE(system.count(a) || ups.count(a)) << a;
  for (const std::string& page : ups) EXPECT_TRUE(p.actions.count(page)) << page << " has no form";
}

}  // namespace
