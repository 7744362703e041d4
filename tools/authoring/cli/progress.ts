// A progress bar on stderr for work that lasts: shown only on a terminal,
// only once the work has taken half a second, and cleared before anything
// else is printed.

export interface BarStream {
  isTTY?: boolean;
  columns?: number;
  write(text: string): unknown;
}

const SHOW_AFTER_MS = 500;
const REDRAW_EVERY_MS = 100;

export class ProgressBar {
  private readonly start: number;
  private lastDrawn = -Infinity;
  private shownWidth = 0;

  constructor(
    private readonly stream: BarStream,
    private readonly now: () => number = () => performance.now(),
  ) {
    this.start = now();
  }

  update(stage: string, done: number, total: number): void {
    if (!this.stream.isTTY) return;
    const now = this.now();
    if (now - this.start < SHOW_AFTER_MS || now - this.lastDrawn < REDRAW_EVERY_MS) return;
    this.lastDrawn = now;
    const text = this.render(stage, done, total);
    this.stream.write(`\r${text.padEnd(this.shownWidth)}`);
    this.shownWidth = text.length;
  }

  clear(): void {
    if (this.shownWidth === 0) return;
    this.stream.write(`\r${" ".repeat(this.shownWidth)}\r`);
    this.shownWidth = 0;
  }

  private render(stage: string, done: number, total: number): string {
    const fraction = total > 0 ? Math.min(Math.max(done / total, 0), 1) : 0;
    const count = ` ${done}/${total}`;
    const label = stage.slice(0, 16).padEnd(16);
    const room = Math.max((this.stream.columns || 80) - 1 - label.length - 3 - count.length, 10);
    const width = Math.min(room, 40);
    const filled = Math.round(fraction * width);
    return `${label} [${"#".repeat(filled)}${".".repeat(width - filled)}]${count}`;
  }
}
