// The little of Node's Buffer that pe-library (under resedit) uses for
// section names: without a Buffer it falls back to a loop that writes the
// first character eight times, so the browser's executable would differ from
// the command line's. Injected into the worker bundle in place of the
// global, nowhere else.

const encoder = new TextEncoder();
const decoder = new TextDecoder();

class BrowserBuffer extends Uint8Array {
  static override from(source: unknown, offset?: unknown, length?: unknown): BrowserBuffer {
    if (typeof source === "string") return new BrowserBuffer(encoder.encode(source));
    if (source instanceof ArrayBuffer) return new BrowserBuffer(source, offset as number, length as number);
    throw new TypeError("Buffer.from: only strings and ArrayBuffers are supported here");
  }

  override toString(): string {
    return decoder.decode(this);
  }
}

export { BrowserBuffer as Buffer };
