// The oracle: the edge records, the strips, the corner patches, the flush
// and the two-polygon mode's list searches written again from what each
// must produce, as plain scans over the records (quadratic, and slow on
// purpose: nothing is indexed), with the module's deliberate departures from
// the literal algorithm (unlinked records, crowded edges, the chain weld,
// circling walks, border, mixed and tangled corners, lobes) named in a
// comment where they apply.
//
// What it decides itself is what the module's indexed code decides: which
// records link, which form a seam or a pair, where a walk goes, which points
// the weld joins. A fault there in the module shows up as a difference.
// What it calls, as the module does, is shared and is tested on its own:
// the record types, vecmath, the output model's store and mend (the choice
// between a weld's two targets, the lobe cut), the edge offset, the corner
// cut and the closers of tangled, border and mixed corners. It is not the
// module's code kept in a slower form; where the two disagree, read both
// against the contract before deciding which is wrong.
//
// Built into the test module CorvaneLiteral.p, and linked into the
// differential tests under Ref names (see CMakeLists.txt) beside the
// module's passes, under the same signatures.
#ifndef CORVANE_TESTS_REFERENCE_H
#define CORVANE_TESTS_REFERENCE_H

#include "bufmodel/bufmodel.h"
#include "context/context.h"
#include "objectmode/objectmode.h"
#include "pairmode/pairmode.h"

int RefBufModelFlush(BufModel *model, EditServices *services);
void RefBufModelWeld(BufModel *model);
void RefBufModelMarkUsed(BufModel *model);

void RefLineList(const PolyInfo *info, LineInfo *out);
int RefLineListPass(EditContext *ctx, int count, PolyInfo *records, LineInfo **edges);
void RefLineInfoPass(EditContext *ctx, int m, LineInfo *edges);

void RefMakeLineCorvanePoly(EditContext *ctx, SharedAdjacency *shared, int m, LineInfo *edges, double size);
void RefMakeLineCorvanePolyLimited(EditContext *ctx, SharedAdjacency *shared, int m, LineInfo *edges,
                                   const Settings *settings);

const LineInfo *RefFindDoneReverse(const LineInfo *edges, int m, const LineInfo *r);
const LineInfo *RefFindReverse(const LineInfo *edges, int m, const LineInfo *r);
void RefPointCorvane(EditContext *ctx, SharedAdjacency *shared, const IdList *points, int m, LineInfo *edges);
void RefPointCorvaneLimited(EditContext *ctx, SharedAdjacency *shared, const IdList *points, int m,
                            LineInfo *edges);

LWPolID RefFindPolyByEdge(EditContext *ctx, const PairIndex *index, LWPolID *list, int count, LWPntID key,
                          LWPntID key2);
int RefPointValence(EditContext *ctx, const PairIndex *index, int count, LWPolID *list, LWPntID key);

// Whether the deliberate fault `name` is switched on, by the environment
// variable CORVANE_REF_MUTANT (tests/test_oracle_mutants.cpp): each names a
// kind of fault the differential tests must be able to see.
int RefMutant(const char *name);

#endif
