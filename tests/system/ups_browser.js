// Drives headless Chromium through the UPS pages: the summary with its live countdown, the event
// history with its pager, date range and export, the trap target list editor (add, select,
// edit, delete, a duplicate refused), the SNMPv3 manager's new pass phrases (warned of while the
// factory ones stand) and the SNMPv3 users' permission. No page it opens keeps a template tag.
// node ups_browser.js BASE_URL ARTIFACT_DIR TRAP_COMMAND   (NODE_PATH names playwright-core's folder)
const { chromium } = require("playwright-core");
const { execSync } = require("child_process");

const [base, artifacts, trapCommand] = process.argv.slice(2);

function check(condition, what) {
  if (!condition) throw new Error(what);
}

async function open(page, path) {
  await page.goto(base + path);
  const html = await page.content();
  check(!html.includes("<% "), path + " keeps a template tag");
  check(!(await page.isVisible("#login-button")), path + " showed the login page");
}

async function submit(page, selector) {
  await Promise.all([page.waitForNavigation(), page.click(selector)]);
}

async function message(page) {
  check(new URL(page.url()).pathname === "/message.asp", "expected the message page, got " + page.url());
  return { title: (await page.textContent("#title")).trim(), body: (await page.textContent("#body")).trim() };
}

(async () => {
  const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--no-sandbox"] });
  try {
    const page = await browser.newPage({ viewport: { width: 1200, height: 900 }, acceptDownloads: true });
    await page.goto(base + "/login.asp");
    await page.fill("#user", "admin");
    await page.fill("#password", "quillbox");
    await submit(page, "#login-button");

    // Summary: the source is listed, then a power failure trap starts a countdown that the page
    // shows without being reloaded.
    await open(page, "/en/summary.asp");
    check((await page.textContent("#sources tbody")).includes("127.0.0.1"), "the trap source is not listed");
    check((await page.textContent("#countdown")).trim() === "No countdown", "a countdown before any alarm");
    check((await page.locator("#events tbody tr").count()) >= 1, "no newest events");
    await page.screenshot({ path: artifacts + "/summary.png", fullPage: true });
    execSync(trapCommand);
    await page.waitForFunction(() => /\d+:\d\d/.test(document.getElementById("countdown").textContent), null,
                               { timeout: 20000 });
    await page.waitForFunction(() => document.querySelector("#sources tbody").textContent.includes("Severity"), null,
                               { timeout: 20000 });
    await page.screenshot({ path: artifacts + "/summary_countdown.png", fullPage: true });

    // History: pages, a date range, the export.
    await open(page, "/en/hist_log.asp");
    await submit(page, "#pager input[name=LOG_BUT1]");
    check((await page.textContent("#view")).trim() === "Page1", "page 1 not shown");
    const frame = page.frameLocator("#log");
    await frame.locator("tr").nth(1).waitFor();
    check((await frame.locator("tr").count()) >= 3, "the log frame shows no lines");
    const now = new Date();
    const today = String(now.getMonth() + 1).padStart(2, "0") + "/" + String(now.getDate()).padStart(2, "0") + "/" +
                  now.getFullYear();
    await page.fill("#from", today);
    await page.fill("#to", today);
    await submit(page, "#apply");
    check((await page.textContent("#view")).trim() === today + " ~ " + today, "date range not shown");
    check(await page.isChecked("#by-date"), "date mode not marked");
    await page.fill("#from", "13/40/2026");
    await submit(page, "#apply");
    check((await message(page)).title === "Incorrect Date Format", "a bad date was taken");
    await open(page, "/en/hist_log.asp");
    await submit(page, "#export");
    check(await page.isVisible("#download"), "no download link after the export");
    const [download] = await Promise.all([page.waitForEvent("download"), page.click("#download")]);
    const file = artifacts + "/event_log.csv";
    await download.saveAs(file);
    const bytes = require("fs").readFileSync(file);
    check(bytes[0] === 0xef && bytes[1] === 0xbb && bytes[2] === 0xbf, "export without its byte-order mark");
    await page.screenshot({ path: artifacts + "/history.png", fullPage: true });

    // Trap targets: add, select, edit, delete, a duplicate refused.
    await open(page, "/en/device/dev_forward.asp");
    check(await page.isDisabled("#fwd-edit"), "edit offered on the placeholder row");
    await page.fill("#fwd-ip", "127.0.0.1");
    await page.fill("#fwd-port", "11162");
    await submit(page, "#fwd-add");
    check((await message(page)).title === "Information", "adding a target failed");
    await submit(page, "#back");
    await open(page, "/en/device/dev_forward.asp");
    check((await page.textContent("#fwd-table")).includes("11162"), "the new target is not listed");
    await page.fill("#fwd-ip", "127.0.0.1");
    await page.fill("#fwd-port", "11163");
    await submit(page, "#fwd-add");
    const dup = await message(page);
    check(dup.title === "Error" && dup.body.includes("IP Addess already in use!"), "a duplicate target was taken");
    await open(page, "/en/device/dev_forward.asp");
    await page.click("#fwd-table a#\\31");
    check((await page.inputValue("#fwd-ip")) === "127.0.0.1", "selecting a row does not fill the form");
    await page.fill("#fwd-port", "11170");
    await submit(page, "#fwd-edit");
    check((await message(page)).title === "Information", "editing the target failed");
    await open(page, "/en/device/dev_forward.asp");
    check((await page.textContent("#fwd-table")).includes("11170"), "the edited port is not listed");
    await page.screenshot({ path: artifacts + "/dev_forward.png", fullPage: true });
    await page.click("#fwd-table a#\\31");
    await submit(page, "#fwd-del");
    await open(page, "/en/device/dev_forward.asp");
    check(!(await page.textContent("#fwd-table")).includes("11170"), "the target was not deleted");

    // The manager user keeps the factory pass phrases: the page warns; row 1 is edited (never
    // deleted) with new ones, and the warning goes.
    await open(page, "/en/device/dev_snmpv3.asp");
    check(await page.isVisible("#factory-usm"), "no warning of the manager's factory pass phrases");
    await page.click("#usm-table a#\\31");
    check(await page.isDisabled("#usm-del"), "the manager user may be deleted");
    check(!(await page.isDisabled("#usm-edit")), "the manager user may not be edited");
    await page.fill("#usm-auth", "browser-auth-1");
    await page.fill("#usm-priv", "browser-priv-1");
    await submit(page, "#usm-edit");
    check((await message(page)).title === "Information", "changing the manager's pass phrases failed");
    await open(page, "/en/device/dev_snmpv3.asp");
    check(!(await page.isVisible("#factory-usm")), "the warning stays after the change");
    check((await page.textContent("#usm-table")).includes("manager"), "the manager user lost its name");

    // SNMPv3 users: "Read" stores 1, a row's number is the stored value, and an Edit that leaves
    // the permission as it was keeps it (0 included); choosing "Read" gives a 0 user access again.
    const usmPermission = async (row) =>
      (await page.locator("#usm-table tbody tr").nth(row - 1).locator("td").nth(5).textContent()).trim();
    const addUser = async (user, permission) => {
      await open(page, "/en/device/dev_snmpv3.asp");
      await page.fill("#usm-user", user);
      await page.selectOption("#usm-security", "0");
      await page.selectOption("#usm-perm", { label: permission });
      await submit(page, "#usm-add");
      check((await message(page)).title === "Information", "adding SNMPv3 user " + user + " failed");
    };
    const editUser = async (row, permission) => {
      await open(page, "/en/device/dev_snmpv3.asp");
      await page.click("#usm-table a#\\3" + row);
      if (permission !== null) await page.selectOption("#usm-perm", { label: permission });
      await submit(page, "#usm-edit");
      check((await message(page)).title === "Information", "editing SNMPv3 row " + row + " failed");
      await open(page, "/en/device/dev_snmpv3.asp");
    };
    await addUser("reader", "Read");
    await addUser("legacy", "No access");
    await editUser(2, null);
    check((await usmPermission(2)) === "1", "Read is not stored as 1 or an edit changed it");
    await editUser(3, null);
    check((await usmPermission(3)) === "0", "an edit that left the permission changed a stored 0");
    await editUser(3, "Read");
    check((await usmPermission(3)) === "1", "choosing Read did not give the user access again");

    // The other pages render whole too.
    for (const p of ["/en/hist_config.asp", "/en/device/dev_config.asp", "/en/device/dev_control.asp",
                     "/en/device/dev_snmpv1.asp", "/en/device/dev_snmpv3.asp", "/en/sys_batch.asp", "/debug.asp"])
      await open(page, p);
    await open(page, "/en/device/dev_config.asp");
    await page.screenshot({ path: artifacts + "/dev_config.png", fullPage: true });
    console.log("browser: all steps passed");
  } finally {
    await browser.close();
  }
})().catch((e) => {
  console.error("FAIL: " + e.message);
  process.exit(1);
});
