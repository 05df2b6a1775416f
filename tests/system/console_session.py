#!/usr/bin/env python3
"""Drives the configuration console Ostrel for the system tests and compares its screens byte for byte.

  console_session.py OSTREL FOLDER CASE

CASE is one of:
  interactive   keys through a pseudo-terminal: toggles without Enter, Enter alone, the port prompt's
                rules (letters ignored, at most 5 digits, Backspace, Enter alone keeps the port, 0 and
                65536 refused and asked again), the save and restart questions
  exit-at-once  "0" right after the start ends the program with nothing more shown
  scripted      arguments 6 8080 9 0 n: HTTP port 8080 saved, the restart question, no restart
  manageable    arguments 8 9 0 n: manageable off and the first SNMPv3 user's permission 0
  run-out       arguments 3 4: the program ends when they run out, nothing saved
  ports         port answers in scripted mode: 1 and 65535 taken, an empty one keeps the port, and a
                refused one (0, above 65535, not a number) ends the script with exit code 1, unsaved
  input-ends    keys from a pipe that ends: the program ends, nothing saved
  store-fails   agent.ini cannot be replaced (a read-only folder): each save says so, the settings
                stay unsaved, the save question is asked again, and the script ends with exit code 1
The installation folder FOLDER holds agent.ini; the registry stand-in must point at it.
"""
import os
import pty
import select
import subprocess
import sys
import time

CRLF = b"\r\n"


def menu(s):
    def onoff(v):
        return b"Enable" if v else b"Disable"

    return (CRLF * 11 + b"+========================+\r\n" + b"|        Vellmar         |\r\n" +
            b"+========================+\r\n" + b"Version: 02.00.22\r\n" +
            b"[1].SNMP Trap Port:    %d\r\n" % s["trap"] + b"[2].SNMP Server Port:  %d\r\n" % s["snmp"] +
            b"[3].HTTP:              " + onoff(s["http"]) + CRLF + b"[4].HTTPS:             " +
            onoff(s["https"]) + CRLF + b"[5].Force HTTPS:       " + onoff(s["force"]) + CRLF +
            b"[6].HTTP Port:         %d\r\n" % s["http_port"] + b"[7].HTTPS Port:        %d\r\n" % s["https_port"] +
            b"[8].Manageable:        " + onoff(s["manageable"]) + CRLF +
            b"[9].Save\r\n[a].Set Firewall\r\n[b].Restart Vellmar Service\r\n[0].Exit\r\n" +
            b"Please Enter Your Choice => ")


FACTORY = dict(trap=162, snmp=161, http=1, https=1, force=1, http_port=80, https_port=443, manageable=1)
SAVE_QUESTION = b"\r\nDo you want to save before exit? [Y]es, [N]o\r\nPlease Enter Your Choice => "
RESTART_QUESTION = (b"\r\nThe data has been saved but did not restart the service to apply the changes.\r\n"
                    b"Do you want to restart the service before exit? [Y]es, [N]o\r\nPlease Enter Your Choice => ")
STORING = b"\r\nStoring, please wait ..."
TERMINATED = b"\r\nThe configure program terminated.\r\n"
PORT_REFUSED = b"\r\nPort must be a number from 1 to 65535.\r\n"
STORE_FAILED = b"\r\nThe settings could not be stored in agent.ini.\r\n"


def fail(text):
    print("FAIL: " + text, file=sys.stderr)
    sys.exit(1)


def ini_sections(folder):
    sections, current = {}, None
    with open(os.path.join(folder, "agent.ini"), "rb") as f:
        for raw in f.read().decode("utf-8", "replace").split("\r\n"):
            if raw.startswith("["):
                current = sections.setdefault(raw.strip("[]"), {})
            elif "=" in raw and current is not None:
                k, v = raw.split("=", 1)
                current[k] = v
    return sections


def compare(got, want, what):
    if got != want:
        at = next((i for i in range(min(len(got), len(want))) if got[i] != want[i]), min(len(got), len(want)))
        fail("%s differs at byte %d:\n got  %r\n want %r" % (what, at, got[at - 40:at + 80], want[at - 40:at + 80]))


class Console:
    """Ostrel on a pseudo-terminal; reads exactly the bytes each step should print."""

    def __init__(self, ostrel, folder):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(folder)
            os.execv(ostrel, [ostrel])
        self.transcript = b""

    def read(self, want, what, seconds=20):
        got = b""
        end = time.time() + seconds
        while len(got) < len(want) and time.time() < end:
            r, _, _ = select.select([self.fd], [], [], 0.2)
            if r:
                try:
                    chunk = os.read(self.fd, 4096)
                except OSError:
                    break
                if not chunk:
                    break
                got += chunk
        self.transcript += got
        compare(got, want, what)

    def quiet(self, what, seconds=0.5):
        """Nothing is printed for a while (an ignored key)."""
        r, _, _ = select.select([self.fd], [], [], seconds)
        if r:
            try:
                extra = os.read(self.fd, 4096)
            except OSError:
                extra = b""
            if extra:
                fail("%s printed %r" % (what, extra))

    def key(self, k, want, what):
        os.write(self.fd, k)
        self.read(want, what)

    def ended(self):
        _, status = os.waitpid(self.pid, 0)
        if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
            fail("Ostrel ended with status %r" % status)
        try:
            rest = os.read(self.fd, 4096)
        except OSError:
            rest = b""
        if rest:
            fail("Ostrel printed more at its end: %r" % rest)


def interactive(ostrel, folder):
    s = dict(FACTORY)
    c = Console(ostrel, folder)
    c.read(menu(s), "first menu")
    s["http"] = 0
    c.key(b"3", b"3" + menu(s), "key 3 toggles HTTP at once")
    c.key(b"\r", menu(s), "Enter alone redraws the menu")
    c.key(b"6", b"6\r\nHTTP Port(80): ", "key 6 asks for the HTTP port")
    os.write(c.fd, b"x")
    c.quiet("a letter at the port prompt")
    c.key(b"12345", b"12345", "digits are echoed")
    os.write(c.fd, b"6")
    c.quiet("a sixth digit")
    c.key(b"\x7f", b"\b \b", "Backspace erases the last digit")
    s["http_port"] = 1234
    c.key(b"\r", menu(s), "the port is taken")
    c.key(b"7", b"7\r\nHTTPS Port(443): ", "key 7 asks for the HTTPS port")
    c.key(b"65536", b"65536", "a port above 65535 can be typed")
    c.key(b"\r", PORT_REFUSED + b"\r\nHTTPS Port(443): ", "a port above 65535 is refused and asked again")
    c.key(b"0\r", b"0" + PORT_REFUSED + b"\r\nHTTPS Port(443): ", "port 0 is refused and asked again")
    c.key(b"\r", menu(s), "Enter alone keeps the port")
    c.key(b"1", b"1\r\nSNMP Trap Port(162): ", "key 1 asks for the trap port")
    s["trap"] = 65535
    c.key(b"65535\r", b"65535" + menu(s), "65535 is taken")
    c.key(b"0", b"0" + SAVE_QUESTION, "exit with changes asks to save")
    c.key(b"x", b"x" + SAVE_QUESTION, "another key asks again")
    c.key(b"y", b"y" + STORING + RESTART_QUESTION, "Y saves and asks to restart")
    c.key(b"q", b"q" + menu(s), "another key at the restart question returns to the menu")
    c.key(b"0", b"0" + RESTART_QUESTION, "exit after a save asks to restart")
    c.key(b"n", b"n" + TERMINATED, "N ends the program")
    c.ended()
    web = ini_sections(folder)["Web"]
    if web.get("HTTP Port") != "1234" or web.get("Enable HTTP") != "No" or web.get("HTTPS Port") != "443":
        fail("agent.ini after the session: %r" % web)
    if ini_sections(folder)["Source IP"].get("Listen Port") != "65535":
        fail("trap port not saved")


def exit_at_once(ostrel, folder):
    s = dict(FACTORY)
    c = Console(ostrel, folder)
    c.read(menu(s), "first menu")
    os.write(c.fd, b"0")
    c.read(b"0", "echo of 0")
    c.ended()


def scripted(ostrel, folder, args, code=0):
    r = subprocess.run([ostrel] + args, cwd=folder, stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    if r.returncode != code or r.stderr:
        fail("Ostrel %s: exit %d, stderr %r" % (" ".join(args), r.returncode, r.stderr))
    return r.stdout


def ports(ostrel, folder):
    before = open(os.path.join(folder, "agent.ini"), "rb").read()
    for refused in ["0", "65536", "70000", "99999999999999999999", "-1", "8081x", "abc", " 80"]:
        want = menu(FACTORY) + b"\r\nHTTP Port(80): " + PORT_REFUSED
        compare(scripted(ostrel, folder, ["6", refused, "9", "0", "n"], code=1), want, "refused port %r" % refused)
        if open(os.path.join(folder, "agent.ini"), "rb").read() != before:
            fail("a refused port %r changed agent.ini" % refused)
    for taken, key, screen, field in [("1", "6", b"HTTP Port(80): ", "http_port"),
                                      ("65535", "7", b"HTTPS Port(443): ", "https_port"),
                                      ("", "2", b"SNMP Server Port(161): ", "snmp")]:
        s = dict(FACTORY)
        want = menu(s) + b"\r\n" + screen
        if taken:
            s[field] = int(taken)
        want += menu(s) + (SAVE_QUESTION if taken else b"") + TERMINATED * bool(taken)
        args = [key, taken, "0"] + (["n"] if taken else [])
        compare(scripted(ostrel, folder, args), want, "port answer %r" % taken)


def main():
    ostrel, folder, case = sys.argv[1:4]
    if case == "interactive":
        interactive(ostrel, folder)
    elif case == "exit-at-once":
        exit_at_once(ostrel, folder)
    elif case == "scripted":
        s = dict(FACTORY)
        want = menu(s) + b"\r\nHTTP Port(80): "
        s["http_port"] = 8080
        want += menu(s) + STORING + menu(s) + RESTART_QUESTION + TERMINATED
        compare(scripted(ostrel, folder, ["6", "8080", "9", "0", "n"]), want, "scripted 6 8080 9 0 n")
        if ini_sections(folder)["Web"].get("HTTP Port") != "8080":
            fail("HTTP port not saved")
    elif case == "manageable":
        s = dict(FACTORY)
        want = menu(s)
        s["manageable"] = 0
        want += menu(s) + STORING + menu(s) + RESTART_QUESTION + TERMINATED
        compare(scripted(ostrel, folder, ["8", "9", "0", "n"]), want, "scripted 8 9 0 n")
        ini = ini_sections(folder)
        if ini["Manageable"].get("Enable") != "No" or ini["USM"].get("Permission1") != "0":
            fail("manageable or USM permission not saved: %r %r" % (ini["Manageable"], ini["USM"]))
    elif case == "run-out":
        before = open(os.path.join(folder, "agent.ini"), "rb").read()
        s = dict(FACTORY)
        want = menu(s)
        s["http"] = 0
        want += menu(s)
        s["https"] = 0
        want += menu(s) + CRLF
        compare(scripted(ostrel, folder, ["3", "4"]), want, "scripted 3 4")
        if open(os.path.join(folder, "agent.ini"), "rb").read() != before:
            fail("agent.ini changed without a save")
    elif case == "ports":
        ports(ostrel, folder)
    elif case == "store-fails":
        before = open(os.path.join(folder, "agent.ini"), "rb").read()
        s = dict(FACTORY)
        first = menu(s) + b"\r\nHTTP Port(80): "
        s["http_port"] = 8080
        first += menu(s)
        # From the menu: the failure, and leaving asks to save again (not to restart).
        want = first + STORING + STORE_FAILED + menu(s) + SAVE_QUESTION + TERMINATED
        compare(scripted(ostrel, folder, ["6", "8080", "9", "0", "n"], code=1), want, "a failed save from the menu")
        # At the save question: asked again.
        want = first + SAVE_QUESTION + STORING + STORE_FAILED + SAVE_QUESTION + TERMINATED
        compare(scripted(ostrel, folder, ["6", "8080", "0", "y", "n"], code=1), want, "a failed save before exit")
        if open(os.path.join(folder, "agent.ini"), "rb").read() != before:
            fail("agent.ini changed")
    elif case == "input-ends":
        before = open(os.path.join(folder, "agent.ini"), "rb").read()
        r = subprocess.run([ostrel], cwd=folder, input=b"3", capture_output=True, timeout=60)
        s = dict(FACTORY)
        want = menu(s) + b"3"
        s["http"] = 0
        want += menu(s) + CRLF
        if r.returncode != 0:
            fail("Ostrel ended with %d when its input ended" % r.returncode)
        compare(r.stdout, want, "keys from a pipe")
        if open(os.path.join(folder, "agent.ini"), "rb").read() != before:
            fail("agent.ini changed without a save")
    else:
        fail("unknown case " + case)


if __name__ == "__main__":
    main()
