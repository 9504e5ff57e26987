// The composer is a build tool, not part of the game library; its sources
// are compiled into this test program so the tests drive it directly.
#include "../../tools/xmcompose/xm_synth.cpp"
