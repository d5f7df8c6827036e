// Runs a fuzz target over files given on the command line, so the fuzzers
// build and replay their corpus with any compiler, without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
#ifndef _WIN32
// A target's set-up, where it has one, as libFuzzer calls it first.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);
#endif

int main(int argc, char** argv) {
#ifndef _WIN32
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
#endif
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 2;
    }
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++replayed;
  }
  std::printf("replayed %d inputs\n", replayed);
  return 0;
}
