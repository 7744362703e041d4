// The player's pictures for the previews, rendered on demand: one screen
// of colour keys per clip, advanced frame by frame as the player advances
// it, and written into RGBA only for the picture asked for. Nothing is kept
// per frame, so memory does not grow with the length of the clip.

import { FrameDecoder, PlayerScreen, UNDEFINED } from "../core/compose.ts";
import { Refusal } from "../core/errors.ts";
import { parseGif } from "../core/gif_read.ts";
import type { GifFile } from "../core/gif_types.ts";
import type { PreviewReply, PreviewRequest, Slot } from "./protocol.ts";

// The largest screen the previews draw; the core's memory rule refuses
// larger animations anyway.
const LARGEST_SCREEN = 64 << 20;

// The stripes shown where the player leaves a pixel undefined (RGBA as a
// little-endian word).
const HATCH = [0xffa34fff, 0xff30103b];

export class PlayerClip {
  private screen: PlayerScreen;
  private decoder: FrameDecoder;
  private drawn = -1;

  constructor(readonly gif: GifFile) {
    this.screen = new PlayerScreen(gif);
    this.decoder = new FrameDecoder(gif);
  }

  // Brings the screen to picture `index`: onwards from the picture shown
  // (the player's screen carries over from one loop to the next), else, or
  // when `fresh`, again from the screen the player starts with.
  advanceTo(index: number, fresh = false): void {
    const count = this.gif.frames.length;
    const next = (this.drawn + 1) % count;
    if (fresh || index !== next || (next === 0 && this.screen.halted)) this.restart();
    while (this.drawn !== index) {
      this.drawn = (this.drawn + 1) % count;
      const frame = this.gif.frames[this.drawn]!;
      if (frame.playerHasPixels && !this.screen.halted) this.screen.draw(this.decoder.decode(frame));
      else this.screen.halted = true;
    }
  }

  get halted(): boolean {
    return this.screen.halted;
  }

  // The screen as RGBA; returns how many pixels are undefined.
  paint(into: Uint32Array): number {
    const { width, height } = this.gif;
    const keys = this.screen.keys;
    let undefinedPixels = 0;
    for (let y = 0, i = 0; y < height; y++) {
      for (let x = 0; x < width; x++, i++) {
        const key = keys[i]!;
        if (key === UNDEFINED) {
          into[i] = HATCH[((x + y) >> 2) & 1]!;
          undefinedPixels++;
        } else into[i] = 0xff000000 | key;
      }
    }
    return undefinedPixels;
  }

  private restart(): void {
    this.screen = new PlayerScreen(this.gif);
    this.drawn = -1;
  }
}

function openClip(bytes: Uint8Array): PlayerClip {
  const gif = parseGif(bytes);
  if (gif.frames.length === 0) throw new Refusal("The GIF holds no frame: the player shows nothing.");
  if (!gif.globalTable) throw new Refusal("No global colour table: the player does not play this GIF at all.");
  if (gif.width * gif.height > LARGEST_SCREEN || gif.width * gif.height === 0) {
    throw new Refusal(`A screen of ${gif.width}×${gif.height} is too large to preview.`);
  }
  return new PlayerClip(gif);
}

type Post = (reply: PreviewReply, transfer: Transferable[]) => void;

// Answers the preview worker's requests, one clip per slot.
export class PreviewRenderer {
  private clips = new Map<Slot, { serial: number; clip: PlayerClip }>();
  // The latest load asked for in each slot: an earlier one still reading
  // its file is dropped when done.
  private latest = new Map<Slot, number>();

  constructor(private post: Post) {}

  async handle(request: PreviewRequest): Promise<void> {
    const { slot } = request;
    if (request.type === "drop") {
      this.clips.delete(slot);
      this.latest.delete(slot);
      return;
    }
    try {
      if (request.type === "load") await this.load(slot, request.serial, request.gif);
      else this.frame(request);
    } catch (error) {
      const message = error instanceof Refusal ? error.message : `The preview failed: ${String(error)}`;
      this.post({ type: "error", slot, serial: request.serial, message }, []);
    }
  }

  private async load(slot: Slot, serial: number, gif: Blob | Uint8Array): Promise<void> {
    this.clips.delete(slot);
    this.latest.set(slot, serial);
    const bytes = gif instanceof Blob ? new Uint8Array(await gif.arrayBuffer()) : gif;
    if (this.latest.get(slot) !== serial) return;
    const clip = openClip(bytes);
    this.clips.set(slot, { serial, clip });
    const { width, height, frames } = clip.gif;
    this.post({ type: "loaded", slot, serial, width, height, delays: frames.map((frame) => frame.delay) }, []);
  }

  private frame(request: Extract<PreviewRequest, { type: "frame" }>): void {
    const held = this.clips.get(request.slot);
    if (!held || held.serial !== request.serial) return;
    const { clip } = held;
    const size = clip.gif.width * clip.gif.height * 4;
    const rgba = request.reuse?.byteLength === size ? request.reuse : new ArrayBuffer(size);
    clip.advanceTo(request.index, request.fresh);
    const undefinedPixels = clip.paint(new Uint32Array(rgba));
    const { slot, serial, index, ticket } = request;
    this.post({ type: "frame", slot, serial, index, ticket, rgba, undefinedPixels, halted: clip.halted }, [rgba]);
  }
}
