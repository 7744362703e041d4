// The page: two modes (make an animation, open one), files chosen or
// dropped anywhere, the previews' transport and the keyboard.

import { byId } from "./dom.ts";
import { Findings } from "./findings.ts";
import { MakeMode, type ExtraKind } from "./make_mode.ts";
import { OpenMode } from "./open_mode.ts";
import { BrowserView, PlayerView, type Zoom } from "./previews.ts";
import { StatusCard } from "./status.ts";
import { PreviewWorker, WorkRunner } from "./workers.ts";

function inlinedPlayer(): Uint8Array {
  const text = byId("player-exe").textContent!.trim();
  return Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
}

// What a dropped file is, by its first bytes.
export function sniff(bytes: Uint8Array): "gif" | "exe" | ExtraKind | null {
  const ascii = (from: number, to: number) => String.fromCharCode(...bytes.subarray(from, to));
  if (ascii(0, 3) === "GIF") return "gif";
  if (ascii(0, 2) === "MZ") return "exe";
  if (ascii(0, 4) === "MThd" || (ascii(0, 4) === "RIFF" && ascii(8, 12) === "RMID")) return "midi";
  if (ascii(0, 4) === "RIFF" && ascii(8, 12) === "WAVE") return "wave";
  if (ascii(1, 4) === "PNG" || (bytes[0] === 0 && bytes[1] === 0 && bytes[2] === 1 && bytes[3] === 0)) return "icon";
  return null;
}

const zoomSelect = byId<HTMLSelectElement>("zoom");
const zoom = () => zoomSelect.value as Zoom;
const previews = new PreviewWorker();
const views = {
  browser: new BrowserView(byId("view-browser"), zoom),
  asIs: new PlayerView("asIs", byId("view-asIs"), zoom, previews),
  packed: new PlayerView("packed", byId("view-packed"), zoom, previews),
};
const status = new StatusCard();
const findings = new Findings();
const runner = new WorkRunner();
const make = new MakeMode(inlinedPlayer(), runner, status, findings, views);
const open = new OpenMode(runner, status, findings, views);

let mode: "make" | "open" = "make";

function setMode(next: "make" | "open"): void {
  if (mode === next) return;
  mode = next;
  if (mode === "open") make.leave();
  else open.leave();
  for (const name of ["make", "open"]) {
    byId(`mode-${name}`).setAttribute("aria-selected", String(name === mode));
    byId(`${name}-panel`).hidden = name !== mode;
  }
  byId("views").classList.toggle("two", mode === "open");
  const asIs = byId("view-asIs");
  asIs.querySelector(".view-title")!.textContent = mode === "make" ? "Player, packed as is" : "Player";
  asIs.querySelector(".view-note")!.textContent =
    mode === "make" ? "the player's view of the GIF unchanged" : "the player's view of the animation";
  status.download.hidden = mode === "open";
  status.retry.hidden = true;
  status.refuse(null);
  if (mode === "make") make.enter();
  else open.enter();
}

async function takeFiles(files: Iterable<File>): Promise<void> {
  for (const file of files) {
    const kind = sniff(new Uint8Array(await file.slice(0, 16).arrayBuffer()));
    if (kind === "exe") {
      setMode("open");
      open.setFile(file);
    } else if (kind === "gif" || (kind === null && /\.gif$/i.test(file.name))) {
      setMode("make");
      make.setGif(file);
    } else if (kind !== null) {
      setMode("make");
      make.setExtra(kind, file);
    } else {
      status.refuse(`${file.name} is neither a GIF, a WAVE, a MIDI file, an icon nor an animation .exe.`,
        "Not opened.");
    }
  }
}

function wireDropping(): void {
  const cover = byId("drop-cover");
  let depth = 0;
  window.addEventListener("dragenter", (event) => {
    event.preventDefault();
    depth += 1;
    cover.hidden = false;
  });
  window.addEventListener("dragleave", () => {
    depth = Math.max(0, depth - 1);
    cover.hidden = depth > 0;
  });
  window.addEventListener("dragover", (event) => event.preventDefault());
  window.addEventListener("drop", (event) => {
    event.preventDefault();
    depth = 0;
    cover.hidden = true;
    if (event.dataTransfer?.files.length) void takeFiles(event.dataTransfer.files);
  });
}

function setPlaying(playing: boolean): void {
  const button = byId("play");
  button.textContent = playing ? "Pause" : "Play";
  button.setAttribute("aria-pressed", String(playing));
  views.asIs.setPlaying(playing);
  views.packed.setPlaying(playing);
}

function restart(): void {
  views.browser.restart();
  views.asIs.restart();
  views.packed.restart();
}

function step(by: number): void {
  setPlaying(false);
  views.asIs.step(by);
  views.packed.step(by);
}

function typing(target: EventTarget | null): boolean {
  return target instanceof HTMLElement && target.matches("input, select, textarea, button, [role=tab]");
}

function wireControls(): void {
  byId("mode-make").addEventListener("click", () => setMode("make"));
  byId("mode-open").addEventListener("click", () => setMode("open"));
  status.download.addEventListener("click", () => make.download());
  status.cancel.addEventListener("click", () => (mode === "make" ? make.cancel() : open.cancel()));
  status.retry.addEventListener("click", () => make.run());
  byId("play").addEventListener("click", () => setPlaying(!views.asIs.playing));
  byId("restart").addEventListener("click", restart);
  // The views start together once the last of them is ready.
  views.packed.onLoaded = restart;
  byId("step-back").addEventListener("click", () => step(-1));
  byId("step-next").addEventListener("click", () => step(1));
  const resize = () => Object.values(views).forEach((view) => view.resize());
  zoomSelect.addEventListener("change", resize);
  new ResizeObserver(resize).observe(byId("views"));
  document.addEventListener("keydown", (event) => {
    if (event.key === "Escape" && runner.busy) {
      if (mode === "make") make.cancel();
      else open.cancel();
    } else if (!typing(event.target) && !event.ctrlKey && !event.metaKey && !event.altKey) {
      if (event.key === " ") setPlaying(!views.asIs.playing);
      else if (event.key === "ArrowLeft") step(-1);
      else if (event.key === "ArrowRight") step(1);
      else if (event.key === "Home") restart();
      else return;
      event.preventDefault();
    }
  });
}

wireDropping();
wireControls();
make.enter();
