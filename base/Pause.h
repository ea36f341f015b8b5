#pragma once

// Every fixed pause of the service goes through here. Production values are the ones
// passed by the callers; tests shrink them all at once with setScale().
namespace Pause {

// Blocks the calling thread for `milliseconds` times the current scale.
void sleep(int milliseconds);

// `milliseconds` times the current scale, for timers that must not block.
int scaled(int milliseconds);

// 1.0 in production; e.g. 0.01 makes a 1 s pause last 10 ms.
void setScale(double scale);
double scale();

} // namespace Pause
