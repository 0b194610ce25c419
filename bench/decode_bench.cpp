// placeholder: replaced by its real implementation
#include <benchmark/benchmark.h>
BENCHMARK_MAIN();
