// Benchmarks of the module as a host runs it: object mode (plain and angle
// limited) on quad spheres, two-polygon mode on rings around quad tubes.
// For each mesh three figures from the same run:
//
//   fast     Corvane.p, one activation on a fresh emulated host;
//   literal  CorvaneLiteral.p (the literal passes), the same activation;
//            given up when it has not finished within a minute;
//   floor    a plain copy of the same mesh through the same host: the
//            polygon survey and the flush alone, nothing chamfered.
//
// The fast run and the floor of a mesh are timed in pairs, one right after
// the other, so that both meet the same load on the machine; the table takes
// the medians and, for fast/floor, the median ratio of the pairs.
//
// Only the activation is timed, as the CPU time of the thread that runs it
// (the host's thread: the module has no other), which other load on the
// machine disturbs less than the elapsed time; building the host and its
// mesh is not timed. After the Google Benchmark lines a table gives the
// figures, their ratios and the targets they are held to, the cost of the
// emulated host's pointInfo and polyInfo at the smallest and the largest
// sphere, and the peak resident set of one activation at the largest sphere
// (measured in a child process forked before anything else runs). Run it
// with scripts/bench.sh.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bufmodel/bufmodel.h"
#include "host/host.h"
#include "host/loader.h"
#include "hostapi/angles.h"
#include "meshgen/meshgen.h"
#include "objectmode/objectmode.h"
#include "tests/testcontext.h"

namespace {

using Clock = std::chrono::steady_clock;

const double kLiteralLimitSeconds = 60.0;
// The machines we measure on are shared: other load slows whole stretches
// of a run down. Every timed case but the literal ones is repeated, the
// repetitions of all cases interleaved in random order, and the table takes
// each case's median, so that a ratio compares times taken across the same
// stretch of the run.
const int kRepetitions = 9;
const double kMinSeconds = 0.2;

// Quad spheres of 6 n^2 quads: about 1,500, 6,000 and 16,000 (64,896
// corners, just under the output model's 65,536 points).
const int kSphereSplits[] = {16, 32, 52};
// Rings of pairs around tubes of two rows.
const int kRingPairs[] = {500, 2000, 8000};
// Slit polygons walking a square back and forth (see SlitWalkSetup).
const int kSlitCorners[] = {800, 1600, 3200};

LoadedModule g_fast, g_literal, g_baseline;

enum class Form { Fast, Literal, Floor, Baseline };

struct Setup {
    MeshData mesh;
    bool pairMode = false;
    bool overflows = false;  // more than the output model holds: the edit is discarded
    double bevel = 0.01;
    int angleMode = 0;
    double limitDeg = 90.0;
};

Setup SphereSetup(int splits, bool limited)
{
    Setup s;
    s.mesh = MakeQuadSphere(splits);
    s.bevel = 0.1 / splits;
    if (limited) {
        // " GT " 179: only the folds sharper than 179 degrees are chamfered
        // (about the sphere's old cube edges and corners); elsewhere the
        // walks step over unchamfered edges and cut corners.
        s.angleMode = 2;
        s.limitDeg = 179.0;
    }
    return s;
}

Setup RingSetup(int pairs)
{
    Setup s;
    s.mesh = MakeQuadTube(pairs, 2);
    // Quad k of row 0 and quad k of row 1 share the ring at z = 1.
    s.mesh.polySelected.assign(MeshPolyCount(s.mesh), 0);
    s.mesh.polySelected[0] = 1;
    s.mesh.polySelected[static_cast<size_t>(pairs)] = 1;
    s.pairMode = true;
    s.bevel = 0.1 * 6.283185307179586 / pairs;
    // Every pair takes 12 buffered points (two copies of 4, two detached
    // edges of 2): past 5,461 pairs a ring does not fit the output model's
    // 65,536 points, and the activation discards the edit with a message
    // once the model is full, as the literal module does.
    s.overflows = 12 * (pairs + 1) > 65536;
    return s;
}

// The seam joining's worst case: four points of a square under a pyramid's
// four triangles, and one polygon that walks the square back and forth
// (1 2 3 4 1 4 3 2 ...) `corners` corners long, so that every record is
// joined with a quarter of the others. The literal joining is cubic in the
// corners: about 9 s at 3,200.
Setup SlitWalkSetup(int corners)
{
    Setup s;
    s.mesh.points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5, 0.5, 1}};
    for (int k = 0; k < 4; ++k)
        MeshPutFace(&s.mesh, {{k, (k + 1) % 4, 4}, "Default", true, false});
    const int walk[] = {0, 1, 2, 3, 0, 3, 2, 1};
    MeshFace slit;
    slit.surface = "Default";
    for (int k = 0; k < corners; ++k)
        slit.points.push_back(walk[k % 8]);
    MeshPutFace(&s.mesh, slit);
    return s;
}

std::unique_ptr<EmuHost> MakeHost(const Setup &s)
{
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    host->script.noDirectoryService = true;
    host->script.bevelSize = s.bevel;
    host->script.angleMode = s.angleMode;
    host->script.limitAngleRad = s.limitDeg * kRadiansPerDegree;
    EmuHostAddMesh(host.get(), s.pairMode ? 1 : 2, s.mesh);
    return host;
}

int CollectPoly(void *data, const HostPolygonInfo *info)
{
    static_cast<std::vector<LWPolID> *>(data)->push_back(info->pol);
    return 0;
}

// The floor: what any activation that rebuilds the layer pays at least. The
// mesh's polygons are surveyed into an output model and flushed back, with
// the linked core's passes.
void PlainCopy(EmuHost *host, int layer)
{
    EmuHostMakeCurrent(host);
    HostMeshEditOp *edit = EmuEditBegin(0, 0, 1);
    BufModel *model = static_cast<BufModel *>(calloc(1, sizeof(BufModel)));
    EditContext ctx{};
    InitTestContext(&ctx, model, edit,
                    static_cast<HostMonitorService *>(EmuGlobal("LWM: Dynamic Monitor", 0)),
                    static_cast<HostMessageService *>(EmuGlobal("Info Messages", 0)));
    std::vector<LWPolID> ids;
    ids.reserve(static_cast<size_t>(edit->polyCount(edit->state, layer, HOST_MODE_ALL)));
    edit->polyScan(edit->state, CollectPoly, &ids, layer);
    const int n = static_cast<int>(ids.size());
    PolyInfo *records = static_cast<PolyInfo *>(calloc(static_cast<size_t>(n) + 1, sizeof(PolyInfo)));
    ClearPolyInfo(n + 1, records);
    GetPolyInfo(&ctx, n, ids.data(), records);
    BufModelFlush(ctx.model, &ctx.services);
    FreePolyInfo(n + 1, records);
    free(records);
    free(model);
    edit->done(edit->state, 0, 0);
}

// One timed run; false when a literal run was given up.
double ThreadSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

bool TimedRun(Form form, const Setup &setup, double *seconds)
{
    std::unique_ptr<EmuHost> host = MakeHost(setup);
    bool gaveUp = false;
    const Clock::time_point start = Clock::now();
    const double cpuStart = ThreadSeconds();
    if (form == Form::Literal) {
        // Every pass of the literal module steps its monitor often; past the
        // limit each step aborts, which ends the passes one after another.
        host->hooks.monitorStep = [&gaveUp, start](const EmuMonitorLog &) {
            if (std::chrono::duration<double>(Clock::now() - start).count() > kLiteralLimitSeconds)
                gaveUp = true;
            return gaveUp ? 1 : 0;
        };
    }
    if (form == Form::Floor) {
        PlainCopy(host.get(), setup.pairMode ? HOST_LAYER_FOREGROUND : HOST_LAYER_BACKGROUND);
    } else {
        const LoadedModule &module = form == Form::Fast       ? g_fast
                                     : form == Form::Baseline ? g_baseline
                                                              : g_literal;
        EmuHostRun(host.get(), module.activate, module.serverData);
    }
    *seconds = ThreadSeconds() - cpuStart;
    const bool committed = host->log.messages.empty() && !host->log.addedPolys.empty();
    if (form != Form::Floor && !gaveUp && committed == setup.overflows) {
        std::fprintf(stderr, "bench: a run %s\n",
                     setup.overflows ? "committed a ring too large for the output model"
                                     : "committed nothing or showed a message");
        std::exit(1);
    }
    return !gaveUp;
}

void BM_Run(benchmark::State &state, Form form, Setup setup)
{
    for (auto _ : state) {
        double seconds = 0.0;
        if (!TimedRun(form, setup, &seconds)) {
            state.SkipWithError("did not finish within a minute");
            break;
        }
        state.SetIterationTime(seconds);
    }
}

// The fast module and the floor, timed in pairs: each iteration runs both,
// one right after the other (which one first alternates), so that both
// halves of a pair meet the same load on the machine. The samples go to
// g_paired by the names of the single runs (Name(group, form, size)), and the
// ratio of each pair to g_ratios by group/size; the table takes medians.
std::map<std::string, std::vector<double>> g_paired;
std::map<std::string, std::vector<double>> g_ratios;

std::string Name(const std::string &group, Form form, int size);

void BM_Paired(benchmark::State &state, std::string group, int size, Setup setup)
{
    const std::string fastName = Name(group, Form::Fast, size);
    const std::string floorName = Name(group, Form::Floor, size);
    bool floorFirst = false;
    for (auto _ : state) {
        double fast = 0.0, floor = 0.0;
        if (floorFirst) {
            TimedRun(Form::Floor, setup, &floor);
            TimedRun(Form::Fast, setup, &fast);
        } else {
            TimedRun(Form::Fast, setup, &fast);
            TimedRun(Form::Floor, setup, &floor);
        }
        floorFirst = !floorFirst;
        g_paired[fastName].push_back(fast);
        g_paired[floorName].push_back(floor);
        g_ratios[group + "/" + std::to_string(size)].push_back(fast / floor);
        state.SetIterationTime(fast + floor);
    }
}

// With CORVANE_BENCH_BASELINE naming another build's Corvane.p: that module
// and this one timed in pairs on the largest sphere and the largest slit
// walk, as the fast module and the floor are, for an A/B of two builds in
// one run (the ratio this/that).
void BM_AgainstBaseline(benchmark::State &state, std::string group, Setup setup)
{
    bool baselineFirst = false;
    for (auto _ : state) {
        double fast = 0.0, baseline = 0.0;
        if (baselineFirst) {
            TimedRun(Form::Baseline, setup, &baseline);
            TimedRun(Form::Fast, setup, &fast);
        } else {
            TimedRun(Form::Fast, setup, &fast);
            TimedRun(Form::Baseline, setup, &baseline);
        }
        baselineFirst = !baselineFirst;
        g_ratios["baseline/" + group].push_back(fast / baseline);
        state.SetIterationTime(fast + baseline);
    }
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return -2.0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// The host's pointInfo and polyInfo, which every pass calls, must cost the
// same whatever the size of the mesh: a million calls on ids spread over
// the whole mesh, inside one open edit.
void BM_HostInfo(benchmark::State &state, int splits)
{
    std::unique_ptr<EmuHost> host = MakeHost(SphereSetup(splits, false));
    EmuHostMakeCurrent(host.get());
    HostMeshEditOp *edit = EmuEditBegin(0, 0, 1);
    const uintptr_t points = host->points.size(), polys = host->polys.size();
    for (auto _ : state) {
        const double start = ThreadSeconds();
        uintptr_t sum = 0, k = 1;
        for (int call = 0; call < 1000000; ++call) {
            k = (k * 40503 + 1) % points + 1;
            sum += reinterpret_cast<uintptr_t>(edit->pointInfo(edit->state, reinterpret_cast<LWPntID>(k)));
            sum += reinterpret_cast<uintptr_t>(
                edit->polyInfo(edit->state, reinterpret_cast<LWPolID>(k % polys + 1)));
        }
        benchmark::DoNotOptimize(sum);
        state.SetIterationTime(ThreadSeconds() - start);
    }
    edit->done(edit->state, 1, 0);
}

// ---- the table ---------------------------------------------------------------

// Collects every run's time per iteration, by benchmark name; the table
// gives the median of a benchmark's repetitions.
class TableReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, std::vector<double>> runs;  // seconds per run
    std::map<std::string, bool> gaveUp;
    void ReportRuns(const std::vector<Run> &reported) override
    {
        for (const Run &run : reported) {
            if (run.run_type == Run::RT_Aggregate)
                continue;
            const std::string &name = run.run_name.function_name;
            if (run.error_occurred)
                gaveUp[name] = true;
            else if (run.iterations > 0)
                runs[name].push_back(run.GetAdjustedRealTime() * 1e-3);  // ms -> s
        }
        ConsoleReporter::ReportRuns(reported);
    }
};

std::string Name(const std::string &group, Form form, int size)
{
    const char *f = form == Form::Fast ? "fast" : form == Form::Literal ? "literal" : "floor";
    return group + "/" + f + "/" + std::to_string(size);
}

struct Row {
    std::string group;  // benchmark group
    std::string label;
    int size;   // the benchmark's size argument
    int items;  // quads, or pairs
};

// Median seconds of a case: of its pairs (fast and floor), or of its
// repetitions; -1 when given up, -2 when not run.
double Get(const TableReporter &r, const std::string &name)
{
    auto paired = g_paired.find(name);
    if (paired != g_paired.end())
        return Median(paired->second);
    if (r.gaveUp.count(name))
        return -1.0;
    auto it = r.runs.find(name);
    if (it == r.runs.end() || it->second.empty())
        return -2.0;
    return Median(it->second);
}

// The median ratio fast / floor of a case's pairs, -1 when not run.
double PairedRatio(const std::string &group, int size)
{
    auto it = g_ratios.find(group + "/" + std::to_string(size));
    return it == g_ratios.end() ? -1.0 : Median(it->second);
}

std::string Ms(double s)
{
    char buf[32];
    if (s == -1.0)
        return "   > 60 s";
    if (s < 0)
        return "        -";
    std::snprintf(buf, sizeof buf, "%9.2f", s * 1e3);
    return buf;
}

std::string RatioText(double ratio)
{
    char buf[32];
    if (ratio <= 0)
        return "      -";
    std::snprintf(buf, sizeof buf, "%7.1f", ratio);
    return buf;
}

std::string Ratio(double a, double b)
{
    char buf[32];
    if (a < 0 || b <= 0)
        return "      -";
    std::snprintf(buf, sizeof buf, "%7.1f", a / b);
    return buf;
}

void PrintTable(const TableReporter &r, long peakKb, long baseKb)
{
    std::vector<Row> rows;
    for (int n : kSphereSplits)
        rows.push_back({"object_plain", "object plain, sphere", n, 6 * n * n});
    for (int n : kSphereSplits)
        rows.push_back({"object_limited", "object limited, sphere", n, 6 * n * n});
    for (int p : kRingPairs)
        rows.push_back({"pair_ring", "two-polygon, tube ring", p, p});
    for (int corners : kSlitCorners)
        rows.push_back({"slit_walk", "object plain, slit walk", corners, corners});

    std::printf("\nCPU time of one activation (floor: a plain copy of the mesh, survey and flush)\n");
    std::printf("%-34s %9s %9s %9s %11s %11s %12s\n", "case", "floor ms", "fast ms", "literal ms",
                "fast/floor", "lit./fast", "fast us/item");
    for (const Row &row : rows) {
        const double floor = Get(r, Name(row.group, Form::Floor, row.size));
        const double fast = Get(r, Name(row.group, Form::Fast, row.size));
        const double literal = Get(r, Name(row.group, Form::Literal, row.size));
        char label[64];
        std::snprintf(label, sizeof label, "%s %d %s", row.label.c_str(), row.items,
                      row.group == "pair_ring"   ? "pairs"
                      : row.group == "slit_walk" ? "corners"
                                                 : "quads");
        char perItem[32];
        if (fast > 0)
            std::snprintf(perItem, sizeof perItem, "%12.3f", fast * 1e6 / row.items);
        else
            std::snprintf(perItem, sizeof perItem, "%12s", "-");
        std::printf("%-34s %9s %9s %9s %11s %11s %s\n", label, Ms(floor).c_str(), Ms(fast).c_str(),
                    Ms(literal).c_str(), RatioText(PairedRatio(row.group, row.size)).c_str(),
                    Ratio(literal, fast).c_str(), perItem);
    }

    const int big = kSphereSplits[2], mid = kSphereSplits[1], small = kSphereSplits[0];
    const double bigFast = Get(r, Name("object_plain", Form::Fast, big));
    const double midFast = Get(r, Name("object_plain", Form::Fast, mid));
    const double midLiteral = Get(r, Name("object_plain", Form::Literal, mid));
    const double smallFast = Get(r, Name("object_plain", Form::Fast, small));
    const double ringFast = Get(r, Name("pair_ring", Form::Fast, 2000));
    const double ringLiteral = Get(r, Name("pair_ring", Form::Literal, 2000));
    const double perQuad = (bigFast / (6.0 * big * big)) / (smallFast / (6.0 * small * small));

    auto target = [](const char *what, double value, const char *op, double limit) {
        const bool met = value > 0 && (op[0] == '<' ? value <= limit : value >= limit);
        std::printf("  %-58s %8.2f  (target %s %g)  %s\n", what, value, op, limit, met ? "met" : "NOT MET");
    };
    std::printf("\ntargets (object mode plain):\n");
    target("fast / floor at 16,224 quads (median of the pairs)",
           bigFast > 0 ? PairedRatio("object_plain", big) : -1, "<=", 3.0);
    target("literal / fast at 6,144 quads", midLiteral > 0 && midFast > 0 ? midLiteral / midFast : -1,
           ">=", 200.0);
    target("per-quad time, 16,224 quads over 1,536 quads", smallFast > 0 ? perQuad : -1, "<=", 1.5);
    const double slitFast = Get(r, Name("slit_walk", Form::Fast, 3200));
    target("slit walk of 3,200 corners, ms", slitFast > 0 ? slitFast * 1e3 : -1, "<=", 500.0);
    for (const char *group : {"object_plain", "object_limited", "slit_walk"}) {
        auto ratios = g_ratios.find(std::string("baseline/") + group);
        if (ratios != g_ratios.end())
            std::printf("  %s at %s, this build / baseline (median of the pairs): %.3f\n", group,
                        std::strcmp(group, "slit_walk") == 0 ? "3,200 corners" : "16,224 quads",
                        Median(ratios->second));
    }
    std::printf("targets (two-polygon mode):\n");
    target("literal / fast, ring of 2,000 pairs",
           ringLiteral > 0 && ringFast > 0 ? ringLiteral / ringFast : -1, ">=", 100.0);
    for (int p : kRingPairs) {
        if (RingSetup(p).overflows)
            std::printf("\nthe ring of %d pairs needs %d buffered points, more than the output"
                        " model's 65,536:\nboth modules walk until it is full and then discard"
                        " the edit with a message;\nits times are those of that walk.\n",
                        p, 12 * p);
    }
    const double infoSmall = Get(r, "host_info/" + std::to_string(small));
    const double infoBig = Get(r, "host_info/" + std::to_string(big));
    if (infoSmall > 0 && infoBig > 0) {
        std::printf("\nthe emulated host: a pointInfo and a polyInfo call together take %.1f ns"
                    " at 1,536 quads and %.1f ns at 16,224\n",
                    infoSmall * 1e3, infoBig * 1e3);
        target("host calls, 16,224 quads over 1,536 quads", infoBig / infoSmall, "<=", 1.5);
    }
    std::printf("\npeak resident set, one object-mode activation at 16,224 quads: %.1f MB"
                " (%.1f MB of it before the activation: process, host and mesh)\n",
                peakKb / 1024.0, baseKb / 1024.0);
}

long ResidentKb()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Peak resident set of one fast object-mode activation at the largest
// sphere, in a child forked before the benchmarks touch any memory. Writes
// the child's peak and its resident set before the activation, in KiB.
void MeasurePeak(long *peakKb, long *baseKb)
{
    int fds[2];
    *peakKb = *baseKb = -1;
    if (pipe(fds) != 0)
        return;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        std::unique_ptr<EmuHost> host = MakeHost(SphereSetup(kSphereSplits[2], false));
        long values[2];
        values[1] = ResidentKb();
        EmuHostRun(host.get(), g_fast.activate, g_fast.serverData);
        struct rusage usage;
        getrusage(RUSAGE_SELF, &usage);
        values[0] = usage.ru_maxrss;
        if (write(fds[1], values, sizeof values) != sizeof values)
            _exit(1);
        _exit(0);
    }
    close(fds[1]);
    long values[2] = {-1, -1};
    if (child > 0) {
        if (read(fds[0], values, sizeof values) != sizeof values)
            values[0] = values[1] = -1;
        waitpid(child, nullptr, 0);
    }
    close(fds[0]);
    *peakKb = values[0];
    *baseKb = values[1];
}

void Register()
{
    for (int n : {kSphereSplits[0], kSphereSplits[2]}) {
        auto *b = benchmark::RegisterBenchmark(("host_info/" + std::to_string(n)).c_str(), BM_HostInfo, n);
        b->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
    }
    // Fast and floor in pairs; the literal module alone, once.
    auto paired = [](const std::string &group, int size, const Setup &setup) {
        auto *b = benchmark::RegisterBenchmark((group + "/paired/" + std::to_string(size)).c_str(), BM_Paired,
                                               group, size, setup);
        b->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions)->MinTime(kMinSeconds);
    };
    auto literal = [](const std::string &group, int size, const Setup &setup) {
        auto *b = benchmark::RegisterBenchmark(Name(group, Form::Literal, size).c_str(), BM_Run,
                                               Form::Literal, setup);
        b->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
    };
    for (bool limited : {false, true}) {
        const std::string group = limited ? "object_limited" : "object_plain";
        for (int n : kSphereSplits) {
            paired(group, n, SphereSetup(n, limited));
            literal(group, n, SphereSetup(n, limited));
        }
    }
    for (int p : kRingPairs) {
        paired("pair_ring", p, RingSetup(p));
        literal("pair_ring", p, RingSetup(p));
    }
    for (int corners : kSlitCorners) {
        paired("slit_walk", corners, SlitWalkSetup(corners));
        literal("slit_walk", corners, SlitWalkSetup(corners));
    }
    if (g_baseline.activate) {
        for (bool limited : {false, true}) {
            const std::string group = limited ? "object_limited" : "object_plain";
            auto *b = benchmark::RegisterBenchmark(("baseline/" + group).c_str(), BM_AgainstBaseline, group,
                                                   SphereSetup(kSphereSplits[2], limited));
            b->UseManualTime()
                ->Unit(benchmark::kMillisecond)
                ->Repetitions(kRepetitions)
                ->MinTime(kMinSeconds);
        }
        const int corners = kSlitCorners[sizeof kSlitCorners / sizeof kSlitCorners[0] - 1];
        auto *b = benchmark::RegisterBenchmark("baseline/slit_walk", BM_AgainstBaseline, "slit_walk",
                                               SlitWalkSetup(corners));
        b->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions)->MinTime(kMinSeconds);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    std::string error;
    if (!LoadModule(CORVANE_FAST_MODULE, "MeshDataEdit", "QX_Corvane", &g_fast, &error) ||
        !LoadModule(CORVANE_LITERAL_MODULE, "MeshDataEdit", "QX_Corvane", &g_literal, &error)) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        return 1;
    }
    const char *baseline = std::getenv("CORVANE_BENCH_BASELINE");
    if (baseline && *baseline && !LoadModule(baseline, "MeshDataEdit", "QX_Corvane", &g_baseline, &error)) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        return 1;
    }
    long peakKb = -1, baseKb = -1;
    MeasurePeak(&peakKb, &baseKb);

    // Interleaving is a flag only: it is put in front of the caller's flags,
    // which may still turn it off.
    std::vector<char *> args(argv, argv + argc);
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    Register();
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintTable(reporter, peakKb, baseKb);
    benchmark::Shutdown();
    UnloadModule(&g_fast);
    UnloadModule(&g_literal);
    return 0;
}
