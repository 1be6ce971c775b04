// Waiting whole seconds.
#pragma once

// The platform sleep: its result is the number of seconds not slept.
unsigned sleep_seconds(unsigned seconds);
// Polls the wall clock once a millisecond until the whole seconds elapsed reach the argument;
// at least one 1 ms pause even for zero or less. A change of the clock shortens or lengthens
// the wait. Result 0.
int wait_seconds(int seconds);
