// The oracle's deliberate faults: each one, switched on in the reference
// passes (tests/reference, RefMutant), must make the differential tests
// fail on their generated sets. A fault of that kind in the module would
// then fail them too; a comparison that passes with a broken oracle proves
// nothing. The differential tests run as a program of their own, as ctest
// runs them, once without a fault (which must pass, so that a failure below
// is the fault's) and once per fault.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The generated sets: random meshes, settings, selections and aborts
// through both modules, and the single passes on arbitrary records.
const char *const kGeneratedSets =
    "Differential.RandomMeshesSettingsSelectionsAndAborts:DifferentialPasses.*";

struct Outcome {
    int status = -1;  // the exit status; -1 when it did not exit
    std::string output;
};

Outcome RunDifferential(const std::string &mutant)
{
    std::string command;
    if (!mutant.empty())
        command = "CORVANE_REF_MUTANT=" + mutant + " ";
    command += std::string("'") + CORVANE_DIFFERENTIAL_PROGRAM + "' --gtest_filter='" + kGeneratedSets +
               "' 2>&1";
    Outcome outcome;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return outcome;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        outcome.output.append(buffer, n);
    const int wstatus = pclose(pipe);
    if (wstatus != -1 && WIFEXITED(wstatus))
        outcome.status = WEXITSTATUS(wstatus);
    return outcome;
}

struct Mutant {
    const char *name;
    const char *fault;                 // what it breaks, for the message
    std::vector<const char *> caught;  // tests that must fail on it
};

const char *const kRandom = "Differential.RandomMeshesSettingsSelectionsAndAborts";

const std::vector<Mutant> &Mutants()
{
    static const std::vector<Mutant> list = {
        {"edges-first-unlinked",
         "a polygon's first edge record loses its link before it",
         {kRandom, "DifferentialPasses.LineInfoPassOnArbitraryRecords"}},
        {"strips-winding",
         "every strip wound the other way",
         {kRandom, "DifferentialPasses.StripsOnArbitraryRecords"}},
        {"strips-skip-first",
         "the first pair found gets no strip",
         {kRandom, "DifferentialPasses.StripsOnArbitraryRecords"}},
        {"patches-winding", "every patch wound with its walk", {kRandom}},
        {"patches-no-trim", "no polygon trimmed by a patch's plane", {kRandom}},
        {"flush-nearest-only",
         "each point welded to its nearest lower point, not its chain's",
         {kRandom, "DifferentialPasses.WeldOfRandomPointClouds"}},
        {"flush-reach-ulp",
         "the weld's reach one ulp short",
         {"DifferentialPasses.WeldOfDegenerateTolerances"}},
        {"pairsearch-reversed-edge", "the polygon across an edge looked for the wrong way round", {kRandom}},
    };
    return list;
}

TEST(OracleMutants, TheGeneratedSetsPassWithoutAFault)
{
    const Outcome clean = RunDifferential("");
    ASSERT_EQ(clean.status, 0) << clean.output;
    EXPECT_NE(clean.output.find("[  PASSED  ]"), std::string::npos) << clean.output;
}

TEST(OracleMutants, EveryFaultMakesTheComparisonFail)
{
    for (const Mutant &mutant : Mutants()) {
        const Outcome broken = RunDifferential(mutant.name);
        // 1 is a failed assertion; a crash or a hang would be no comparison.
        EXPECT_EQ(broken.status, 1) << mutant.name << " (" << mutant.fault << ")\n" << broken.output;
        for (const char *test : mutant.caught)
            EXPECT_NE(broken.output.find(std::string("[  FAILED  ] ") + test), std::string::npos)
                << mutant.name << " (" << mutant.fault << ") not caught by " << test;
    }
}

}  // namespace
