// The three pictures side by side: the browser's own rendering of the GIF
// (an <img>), and the player's view of a GIF, rendered frame by frame in the
// preview worker and shown with the player's timing.

import { element } from "./dom.ts";
import type { PreviewInfo, PreviewReply, Slot } from "./protocol.ts";
import type { PreviewWorker } from "./workers.ts";

export type Zoom = "fit" | "1" | "2";

// The factor a picture is shown at: fitted pictures are enlarged by whole
// steps while they fit (so single pixels stay visible) and shrunk to fit.
export function displayScale(width: number, boxWidth: number, zoom: Zoom): number {
  if (zoom !== "fit") return Number(zoom);
  if (width >= boxWidth) return boxWidth / width;
  return Math.min(8, Math.max(1, Math.floor(boxWidth / width)));
}

// Milliseconds the player shows a picture for.
export function playerDelay(delay: number): number {
  return Math.max(delay, 1) * 10;
}

abstract class View {
  protected screen: HTMLElement;
  protected foot: HTMLElement;
  protected naturalWidth = 0;
  protected naturalHeight = 0;
  protected shown: HTMLElement | null = null;

  constructor(figure: HTMLElement, protected zoom: () => Zoom) {
    this.screen = figure.querySelector(".screen") as HTMLElement;
    this.foot = figure.querySelector(".view-foot") as HTMLElement;
  }

  empty(message: string): void {
    this.shown = null;
    this.screen.replaceChildren(element("div", { class: "empty" }, message));
    this.setCounter("");
  }

  resize(): void {
    if (!this.shown || this.naturalWidth === 0) return;
    const box = Math.max(120, this.screen.clientWidth - 24);
    const scale = displayScale(this.naturalWidth, box, this.zoom());
    this.shown.style.width = `${Math.round(this.naturalWidth * scale)}px`;
    this.shown.style.height = `${Math.round(this.naturalHeight * scale)}px`;
  }

  protected present(node: HTMLElement, width: number, height: number): void {
    this.naturalWidth = width;
    this.naturalHeight = height;
    this.shown = node;
    this.screen.replaceChildren(node);
    this.resize();
  }

  protected setCounter(text: string): void {
    this.foot.textContent = text;
  }
}

export class BrowserView extends View {
  private url: string | null = null;
  private gif: Blob | null = null;
  private description = "";

  show(gif: Blob | Uint8Array, description: string): void {
    this.release();
    this.gif = gif instanceof Blob ? gif : new Blob([gif as BlobPart], { type: "image/gif" });
    this.description = description;
    this.url = URL.createObjectURL(this.gif);
    const image = element("img", { alt: description, src: this.url });
    image.addEventListener("load", () => {
      this.present(image, image.naturalWidth, image.naturalHeight);
      this.setCounter(`${image.naturalWidth} × ${image.naturalHeight}`);
    });
    image.addEventListener("error", () => this.empty("This browser cannot show the GIF."));
  }

  override empty(message: string): void {
    this.release();
    this.gif = null;
    super.empty(message);
  }

  // The browser starts the animation over for an image of a new address.
  restart(): void {
    if (this.gif && this.shown) this.show(this.gif, this.description);
  }

  // What the page shows through the GIF's transparent pixels.
  setBackdrop(colour: string): void {
    this.screen.style.setProperty("--backdrop", colour);
  }

  private release(): void {
    if (this.url) URL.revokeObjectURL(this.url);
    this.url = null;
  }
}

// A player's view animated with the player's timing: the next picture is
// asked for as soon as one is shown and put up when its time comes. Each
// request has a ticket; a reply to an older one is only a buffer to reuse.
export class PlayerView extends View {
  private serial = 0;
  private info: (PreviewInfo & { serial: number }) | null = null;
  private canvas: HTMLCanvasElement | null = null;
  private index = 0;
  private shownAt = 0;
  private ticket = 0;
  private outstanding = false;
  private immediate = false;
  private timer: ReturnType<typeof setTimeout> | undefined;
  private spare: ArrayBuffer | undefined;
  private held = false;
  playing = true;
  onLoaded: (() => void) | null = null;

  constructor(private slot: Slot, figure: HTMLElement, zoom: () => Zoom, private worker: PreviewWorker) {
    super(figure, zoom);
    worker.listen((reply) => this.receive(reply));
  }

  // Shows the player's view of the GIF. With `handOver`, the bytes' buffer
  // moves to the worker rather than being copied.
  load(gif: Blob | Uint8Array, handOver = false, note = "Preparing the player's view…"): void {
    this.forget();
    super.empty(note);
    const transfer = handOver && !(gif instanceof Blob) ? [gif.buffer] : [];
    this.worker.send({ type: "load", slot: this.slot, serial: this.serial, gif }, transfer);
  }

  override empty(message: string): void {
    this.forget();
    this.worker.send({ type: "drop", slot: this.slot });
    super.empty(message);
  }

  setPlaying(playing: boolean): void {
    this.playing = playing;
    this.resume();
  }

  // Holds the animation still while other work needs the processor.
  hold(held: boolean): void {
    this.held = held;
    this.resume();
  }

  step(by: number): void {
    if (!this.info) return;
    const count = this.info.delays.length;
    this.request((this.index + by + count) % count, true);
  }

  // From the first picture on a screen as the player starts with.
  restart(): void {
    if (this.info) this.request(0, true, true);
  }

  private get moving(): boolean {
    return this.playing && !this.held && (this.info?.delays.length ?? 0) > 1;
  }

  private forget(): void {
    clearTimeout(this.timer);
    this.serial += 1;
    this.info = null;
    this.index = 0;
    this.outstanding = false;
  }

  private resume(): void {
    if (!this.moving) {
      clearTimeout(this.timer);
      this.ticket += 1;
      this.outstanding = false;
    } else if (!this.outstanding) this.request(this.next(this.index), false);
  }

  private next(index: number): number {
    return this.info ? (index + 1) % this.info.delays.length : 0;
  }

  private request(index: number, immediate: boolean, fresh = false): void {
    if (!this.info) return;
    clearTimeout(this.timer);
    this.ticket += 1;
    this.outstanding = true;
    this.immediate = immediate;
    const reuse = this.spare;
    this.spare = undefined;
    this.worker.send({ type: "frame", slot: this.slot, serial: this.info.serial, index, ticket: this.ticket, fresh, reuse },
      reuse ? [reuse] : []);
  }

  private receive(reply: PreviewReply): void {
    if (reply.slot !== this.slot || reply.serial !== this.serial) return;
    if (reply.type === "error") {
      super.empty(reply.message);
    } else if (reply.type === "loaded") {
      this.info = reply;
      this.canvas = element("canvas", { width: String(reply.width), height: String(reply.height), role: "img" });
      this.canvas.setAttribute("aria-label", `The player's view, ${reply.width} by ${reply.height}`);
      this.present(this.canvas, reply.width, reply.height);
      this.request(0, true);
      this.onLoaded?.();
    } else if (reply.ticket !== this.ticket) {
      this.spare = reply.rgba;
    } else {
      const due = this.immediate ? 0 : this.shownAt + playerDelay(this.info!.delays[this.index]!);
      this.timer = setTimeout(() => this.draw(reply), Math.max(0, due - performance.now()));
    }
  }

  private draw(reply: Extract<PreviewReply, { type: "frame" }>): void {
    if (!this.info || !this.canvas) return;
    this.outstanding = false;
    const pixels = new ImageData(new Uint8ClampedArray(reply.rgba), this.info.width, this.info.height);
    this.canvas.getContext("2d")!.putImageData(pixels, 0, 0);
    this.spare = reply.rgba;
    this.index = reply.index;
    this.shownAt = performance.now();
    this.setCounter(describePicture(reply, this.info.delays));
    if (this.moving && !reply.halted) this.request(this.next(reply.index), false);
  }
}

function describePicture(reply: Extract<PreviewReply, { type: "frame" }>, delays: number[]): string {
  const notes = delays.length > 1
    ? [`picture ${reply.index + 1} of ${delays.length}`, `${playerDelay(delays[reply.index]!)} ms`]
    : ["a still picture"];
  if (reply.undefinedPixels) notes.push(`${reply.undefinedPixels.toLocaleString("en")} px undefined`);
  if (reply.halted) notes.push("the player stops here");
  return notes.join(" · ");
}
