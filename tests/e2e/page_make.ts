// Makes an animation the way an author does on the offline page: opens the
// built page from disk in Debian's Chromium, chooses the GIF, waits for the
// work and saves the download. Used by test_animpack.py, which plays what
// it saves.
//
// usage: node --import tsx page_make.ts PAGE.html IN.gif OUT.exe

import { writeFileSync } from "node:fs";
import { pathToFileURL } from "node:url";
import { chromium } from "playwright-core";

const [pagePath, gifPath, outPath] = process.argv.slice(2);
if (!outPath) {
  console.error("usage: page_make.ts PAGE.html IN.gif OUT.exe");
  process.exit(2);
}

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium",
  args: ["--no-sandbox", "--disable-gpu", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", "--no-first-run"],
});
try {
  const page = await browser.newPage();
  await page.goto(pathToFileURL(pagePath).href);
  await page.setInputFiles("#gif-input", gifPath);
  await page.waitForSelector("#status.done, #status.refused", { timeout: 60_000 });
  if (!(await page.isEnabled("#download"))) {
    throw new Error(`the page refused: ${await page.textContent("#refusal")}`);
  }
  const [download] = await Promise.all([page.waitForEvent("download"), page.click("#download")]);
  const chunks: Buffer[] = [];
  for await (const chunk of await download.createReadStream()) chunks.push(chunk as Buffer);
  writeFileSync(outPath, Buffer.concat(chunks));
  console.log(`saved the page's download as ${outPath}`);
} finally {
  await browser.close();
}
