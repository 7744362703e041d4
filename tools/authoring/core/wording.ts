// How numbers read in what the tool prints, the same on every front end.

// 1234567 -> "1,234,567".
export function grouped(count: number): string {
  return String(count).replace(/\B(?=(\d{3})+(?!\d))/g, ",");
}
