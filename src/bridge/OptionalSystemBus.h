#pragma once
// GIO's shared system-bus connection ends its process when the bus goes away
// (its exit-on-close default), and libraries in both our processes take that
// connection for optional things (power and network state). The system bus
// is optional here: this takes the shared connection once, when there is a
// bus, keeps it, and turns that off, so that losing the bus only stops what
// used it. Call it early in each process.
namespace corvane {

void keepRunningWhenTheSystemBusGoes();

}  // namespace corvane
