// The peer library's box filter and table lookup on the same picture, so that every run shows the ratios:
// cv::blur with the same radius (window 2R + 1, out of place, its default thread count) against BM_Blur,
// cv::LUT with one table for three channels against BM_Brightness and BM_ApplyEnvelops.
#include "BenchPeer.h"
#include "BenchImage.h"

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace {

cv::Mat MatOf(TBenchImage& Image) {
    return cv::Mat(Image.Height, Image.Width, CV_8UC3, Image.Bits.data(), Image.Stride);
}

void BM_Peer_OpenCvBlur(benchmark::State& state) {
    TBenchImage image = MakeBenchImage();
    const cv::Mat source = MatOf(image);
    cv::Mat target(source.size(), source.type());
    const int size = 2 * int(state.range(0)) + 1;
    for (auto _ : state) {
        cv::blur(source, target, cv::Size(size, size));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * image.Width * image.Height);
}

void BM_Peer_OpenCvLut(benchmark::State& state) {
    TBenchImage image = MakeBenchImage();
    cv::Mat picture = MatOf(image);
    cv::Mat table(1, 256, CV_8UC1);
    for (int v = 0; v < 256; ++v)
        table.at<uint8_t>(v) = uint8_t(255 - v / 2);
    for (auto _ : state) {
        cv::LUT(picture, table, picture);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.Bits.size()));
}

} // namespace

void SetPeerThreads(int Count) {
    cv::setNumThreads(Count == 0 ? -1 : Count); // -1: the library's default
}

BENCHMARK(BM_Peer_OpenCvBlur)->Arg(1)->Arg(2)->Arg(8)->Arg(32)->Arg(128)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Peer_OpenCvLut)->Unit(benchmark::kMillisecond);
