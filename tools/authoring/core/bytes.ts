// Reading multi-byte fields of a byte array that may be a view into a
// larger buffer (a file read whole, a section of an animation).

export function viewOf(bytes: Uint8Array): DataView {
  return new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
}
