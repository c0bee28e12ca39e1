// The peer library's benchmarks (BenchPeer.cpp, built when OpenCV is found).
#pragma once

// The peer's thread count: 0 its default (every hardware thread), else Count.
void SetPeerThreads(int Count);
