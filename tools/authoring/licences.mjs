// The licences of the npm packages a bundle carries. Both builds append them
// to what they write, and the repository's THIRD-PARTY-NOTICES.md holds the
// same texts; `node tools/authoring/licences.mjs` prints that file from the
// installed packages.

import { readdirSync, readFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const root = join(dirname(fileURLToPath(import.meta.url)), "..", "..");

// The packages inside a bundle, found from esbuild's record of its inputs.
export function bundledPackages(...metafiles) {
  const names = new Set();
  for (const metafile of metafiles) {
    for (const input of Object.keys(metafile.inputs)) {
      const match = /node_modules\/((?:@[^/]+\/)?[^/]+)\//.exec(input);
      if (match) names.add(match[1]);
    }
  }
  return [...names].sort();
}

export function packageLicences(names) {
  return names.map((name) => {
    const folder = join(root, "node_modules", name);
    const { version, license } = JSON.parse(readFileSync(join(folder, "package.json"), "utf8"));
    const file = readdirSync(folder).find((entry) => /^licen[cs]e/i.test(entry));
    const text = file ? readFileSync(join(folder, file), "utf8").trim() : `${license} licence`;
    return { name, version, text };
  });
}

// A comment for the end of a script bundle: the licences travel with every
// copy of the code.
export function licenceComment(names) {
  const body = packageLicences(names).map(({ name, version, text }) => `${name} ${version}\n\n${text}`)
    .join("\n\n----\n\n").replaceAll("*/", "* /");
  return `\n/*\nThis file bundles the following packages, under their licences:\n\n${body}\n*/\n`;
}

// The packages the page and the command line bundle, as the builds find them.
export const distributedPackages = ["image-q", "pe-library", "resedit"];

export function noticesMarkdown(names = distributedPackages) {
  const sections = packageLicences(names).map(({ name, version, text }) =>
    `## ${name} ${version}\n\n\`\`\`\n${text}\n\`\`\`\n`);
  return "# Third-party notices\n\n" +
    "The authoring tool's offline page (`animpack.html`) and its bundled command line (`animpack.mjs`)\n" +
    "carry code of these npm packages, under their own licences, reproduced here. The test data under\n" +
    "`tests/data` keeps its own licences beside it.\n\n" + sections.join("\n");
}

if (process.argv[1] === fileURLToPath(import.meta.url)) process.stdout.write(noticesMarkdown());
