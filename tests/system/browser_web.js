// Drives headless Chromium through the web interface: login with the factory account, the system
// name changed on the system information page, logout, a wrong password and the login lock.
// node browser_web.js BASE_URL ARTIFACT_DIR   (NODE_PATH names the folder holding playwright-core)
const { chromium } = require("playwright-core");

const [base, artifacts] = process.argv.slice(2);

function check(condition, what) {
  if (!condition) throw new Error(what);
}

async function loginAs(page, user, password) {
  await page.goto(base + "/login.asp");
  await page.fill("#user", user);
  await page.fill("#password", password);
  await Promise.all([page.waitForNavigation(), page.click("#login-button")]);
}

async function messageTitle(page) {
  check(new URL(page.url()).pathname === "/message.asp", "expected the message page, got " + page.url());
  return (await page.textContent("#title")).trim();
}

(async () => {
  const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--no-sandbox"] });
  try {
    const page = await browser.newPage({ viewport: { width: 1100, height: 720 } });
    await page.goto(base + "/");
    check(await page.isVisible("#login-button"), "/ does not show the login form");
    await page.screenshot({ path: artifacts + "/login.png" });

    await loginAs(page, "admin", "quillbox");
    check(new URL(page.url()).pathname === "/home.asp", "login did not lead home: " + page.url());
    check(await page.isVisible("#default-password"), "the factory-password notice is not shown");
    const cookies = await page.context().cookies();
    check(cookies.some((c) => c.name === "Vellmar" && c.httpOnly), "no HttpOnly session cookie");

    await page.goto(base + "/en/sys_info.asp");
    await page.fill("#name", "Browser Rack");
    await Promise.all([page.waitForNavigation(), page.click("#apply")]);
    check((await messageTitle(page)) === "Information", "saving the system name failed");
    await Promise.all([page.waitForNavigation(), page.click("#back")]);
    check((await page.inputValue("#name")) === "Browser Rack", "the new system name is not shown");
    await page.screenshot({ path: artifacts + "/sys_info.png" });

    await page.goto(base + "/logout.asp");
    check(await page.isVisible("#again"), "logout page");
    await page.goto(base + "/en/sys_info.asp");
    check(await page.isVisible("#login-button"), "a page was shown after logout");

    await loginAs(page, "device", "wrong-password");
    check((await messageTitle(page)) === "Login Error", "a wrong password was not refused");
    check((await page.textContent("#body")).includes("Please check the account and password."), "login error text");
    await page.screenshot({ path: artifacts + "/login_error.png" });
    await loginAs(page, "device", "wrong-password");
    await loginAs(page, "device", "wrong-password");
    check((await messageTitle(page)) === "Login Lock", "no lock after the third failure");
    await loginAs(page, "device", "quillbox");
    check((await messageTitle(page)) === "Login Lock", "a locked account logged in");
    check((await page.textContent("#body")).includes("The account has been locked."), "lock text");
    await page.screenshot({ path: artifacts + "/login_lock.png" });
    await Promise.all([page.waitForNavigation(), page.click("#back")]);
    check(new URL(page.url()).pathname === "/login.asp", "the lock message does not lead back to the login");
    console.log("browser: all steps passed");
  } finally {
    await browser.close();
  }
})().catch((e) => {
  console.error("FAIL: " + e.message);
  process.exit(1);
});
