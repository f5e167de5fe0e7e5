// Reading and writing a mesh of about 65,000 corners in each format against
// OBJ, from and to memory (the disk is the same for all). The mesh is a
// triangulated quad sphere, so that the triangle formats hold the same
// corners as the polygon ones. Never part of the test run.
//   build/bench/corvane_bench_formats
#include <benchmark/benchmark.h>

#include <string>

#include "meshgen/meshgen.h"
#include "meshio/meshio.h"

namespace {

const MeshData &Sphere()
{
    // 6 * 43 * 43 quads, each cut in two: 22,188 triangles, 66,564 corners
    static const MeshData mesh = MakeTriangulated(MakeQuadSphere(43), 1);
    return mesh;
}

void BM_Write(benchmark::State &state, MeshFormat format)
{
    const MeshData &mesh = Sphere();
    std::string bytes, error;
    for (auto _ : state) {
        if (!MeshFileBytes(mesh, format, "bench", &bytes, &error))
            state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(bytes.data());
    }
    state.counters["bytes"] = (double)bytes.size();
}

void BM_Read(benchmark::State &state, MeshFormat format)
{
    std::string bytes, error;
    MeshFileBytes(Sphere(), format, "bench", &bytes, &error);
    MeshData mesh;
    for (auto _ : state) {
        if (!MeshReadBytes(bytes, "bench", format, &mesh, nullptr, &error))
            state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(mesh.points.data());
    }
    state.counters["corners"] = (double)(MeshPolyCount(mesh) * 3);
}

}  // namespace

BENCHMARK_CAPTURE(BM_Read, obj, MeshFormat::Obj)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Read, ply, MeshFormat::Ply)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Read, off, MeshFormat::Off)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Read, stl, MeshFormat::Stl)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Read, gltf, MeshFormat::Gltf)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Read, glb, MeshFormat::Glb)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Write, obj, MeshFormat::Obj)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Write, ply, MeshFormat::Ply)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Write, off, MeshFormat::Off)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Write, stl, MeshFormat::Stl)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Write, gltf, MeshFormat::Gltf)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Write, glb, MeshFormat::Glb)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
