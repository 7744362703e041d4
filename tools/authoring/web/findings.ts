// The reports of check and make, in words, as the command line prints them:
// a headline, indented detail lines, warnings.

import { byId, element } from "./dom.ts";

export interface ReportText {
  lines: string[];
  warnings: string[];
}

function block(title: string, report: ReportText, verdictPrefix: string | null): HTMLElement {
  const section = element("section", {}, element("h3", {}, title));
  let list: HTMLUListElement | null = null;
  for (const line of report.lines) {
    if (/^\s/.test(line)) {
      list ??= section.appendChild(element("ul"));
      list.append(element("li", {}, line.trim()));
      continue;
    }
    list = null;
    const verdict = verdictPrefix !== null && line.startsWith(verdictPrefix);
    section.append(element("p", { class: verdict ? "verdict" : "headline" }, line));
  }
  for (const warning of report.warnings) section.append(element("p", { class: "warning" }, warning));
  return section;
}

export class Findings {
  private body = byId("findings");
  // True while only a placeholder is shown.
  waiting = true;

  quiet(message: string): void {
    this.waiting = true;
    this.body.replaceChildren(element("p", { class: "quiet" }, message));
  }

  showCheck(report: ReportText): void {
    this.waiting = false;
    this.body.replaceChildren(block("What the player would show", report, "make:"));
  }

  addMake(report: ReportText): void {
    this.body.append(block("What will be packed", report, null));
  }

  showSections(report: ReportText): void {
    this.waiting = false;
    this.body.replaceChildren(block("The animation", report, null));
  }
}
