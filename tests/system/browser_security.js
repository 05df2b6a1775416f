// Headless Chromium against crafted addresses and stored texts: the message page with a script in
// its query, and the list rows of the UPS pages whose stored texts hold backslashes, parentheses
// and semicolons. No dialog opens, no script error occurs, and each row puts its exact text into
// the form. The interface also loads over HTTPS (the forward-secret suites only).
// node browser_security.js HTTP_BASE HTTPS_BASE ARTIFACT_DIR   (NODE_PATH names playwright-core)
const { chromium } = require("playwright-core");

const [base, secure, artifacts] = process.argv.slice(2);

function check(condition, what) {
  if (!condition) throw new Error(what);
}

(async () => {
  const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--no-sandbox"] });
  const ran = [];
  try {
    const context = await browser.newContext({ ignoreHTTPSErrors: true, viewport: { width: 1100, height: 720 } });
    // Every way a script could show itself is recorded.
    await context.addInitScript(() => {
      for (const name of ["alert", "confirm", "prompt"]) {
        window[name] = (...args) => {
          console.log("HOOK " + name + " " + args.join(" "));
        };
      }
    });
    const page = await context.newPage();
    page.on("dialog", (d) => {
      ran.push("dialog " + d.message());
      d.dismiss();
    });
    page.on("console", (m) => {
      if (m.text().startsWith("HOOK ")) ran.push(m.text());
    });
    page.on("pageerror", (e) => ran.push("page error " + e.message));

    // The crafted address, without a session and then with the administrator's.
    const crafted = "/message.asp?ERR_PATH=alert(document.domain)//&ERR_MSG=%3Cimg%20src=x%20onerror=alert(2)%3E";
    await page.goto(base + crafted);
    await page.click("#back");
    await page.waitForTimeout(300);
    await page.goto(base + "/login.asp");
    await page.fill("#user", "admin");
    await page.fill("#password", "quillbox");
    await Promise.all([page.waitForNavigation(), page.click("#login-button")]);
    check(new URL(page.url()).pathname === "/home.asp", "login did not lead home: " + page.url());
    await page.goto(base + crafted);
    await page.click("#back");
    await page.waitForTimeout(300);
    await page.screenshot({ path: artifacts + "/crafted_message.png" });

    // List rows: the click and the page's first-row call fill the form with the stored text.
    const rows = [
      ["/en/device/dev_config.asp", "a[id='1']", { "src-comm": "x\\);alert(1);//", "src-user": "\\\\);alert(2);" }],
      ["/en/device/dev_config.asp", "#Cluster1", { "cl-account": "c\\);alert(5);//\u00e9", "cl-name": "n\\" }],
      ["/en/device/dev_snmpv1.asp", "a[id='1']", { "acs-comm": "q\\);alert(3)//" }],
      ["/en/device/dev_snmpv3.asp", "a[id='1']", { "usm-user": "u\\);alert(4);//" }],
    ];
    for (const [path, link, fields] of rows) {
      await page.goto(base + path);
      for (const [id, text] of Object.entries(fields))
        check((await page.inputValue("#" + id)) === text, path + " loads #" + id + " as " + (await page.inputValue("#" + id)));
      for (const id of Object.keys(fields)) await page.fill("#" + id, "");
      await page.click(link);
      for (const [id, text] of Object.entries(fields))
        check((await page.inputValue("#" + id)) === text, path + " row sets #" + id + " to " + (await page.inputValue("#" + id)));
    }
    await page.screenshot({ path: artifacts + "/crafted_rows.png" });

    // Over HTTPS.
    await page.goto(secure + "/en/device/dev_config.asp");
    check((await page.inputValue("#src-comm")) === "x\\);alert(1);//", "the page does not load over HTTPS");
    check(ran.length === 0, "script ran: " + ran.join(" | "));
  } finally {
    await browser.close();
  }
})().catch((e) => {
  console.error(e.message);
  process.exit(1);
});
