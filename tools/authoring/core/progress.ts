// Progress reports thinned out for front ends that pass them across a
// thread: at most one every `everyMs`, but always the first of a stage and
// each stage's end, so a bar never misses a step it must show.

import type { Progress } from "./gif_types.ts";

export function throttled(report: Progress, everyMs = 50): Progress {
  let last = -Infinity;
  let lastStage = "";
  return (stage, done, total) => {
    const now = performance.now();
    if (stage === lastStage && done < total && now - last < everyMs) return;
    last = now;
    lastStage = stage;
    report(stage, done, total);
  };
}
