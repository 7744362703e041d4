// Refusals: an input the tool will not turn into an animation, with the one
// clear sentence a front end shows for it. Anything else thrown is a fault.
export class Refusal extends Error {
  override name = "Refusal";
}
