// Opens a local page in headless Chromium, as the tray's browser would, and waits until it has
// led on to a page of the service; prints that page's path.
// node browser_page.js PAGE_FILE EXPECTED_PATH   (NODE_PATH names the folder holding playwright-core)
const { chromium } = require("playwright-core");

const [file, expected] = process.argv.slice(2);

(async () => {
  const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--no-sandbox"] });
  try {
    // The service's own certificate is self-signed.
    const page = await browser.newPage({ ignoreHTTPSErrors: true });
    await page.goto("file://" + file);
    await page.waitForURL((url) => url.protocol !== "file:" && url.pathname === expected, { timeout: 30000 });
    console.log(new URL(page.url()).pathname);
  } finally {
    await browser.close();
  }
})().catch((e) => {
  console.error(e.message);
  process.exit(1);
});
