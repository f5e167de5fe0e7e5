// The literal passes of this folder as linked into the differential tests,
// renamed with a Ref prefix (see CMakeLists.txt) so that they sit beside the
// indexed passes of the core under the same signatures.
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

void RefJoinSeamEdge(BufModel *model, int m, LineInfo *edges, int i, int j);
void RefMakeLineCorvanePoly(EditContext *ctx, SharedAdjacency *shared, int m, LineInfo *edges,
                            double size);
void RefMakeLineCorvanePolyLimited(EditContext *ctx, SharedAdjacency *shared, int m,
                                   LineInfo *edges, const Settings *settings);

const LineInfo *RefFindDoneReverse(const LineInfo *edges, int m, const LineInfo *r);
const LineInfo *RefFindReverse(const LineInfo *edges, int m, const LineInfo *r);
void RefPointCorvane(EditContext *ctx, SharedAdjacency *shared, const IdList *points, int m,
                     LineInfo *edges);
void RefPointCorvaneLimited(EditContext *ctx, SharedAdjacency *shared, const IdList *points, int m,
                            LineInfo *edges);

LWPolID RefFindPolyByEdge(EditContext *ctx, const PairIndex *index, LWPolID *list, int count,
                          LWPntID key, LWPntID key2);
int RefPointValence(EditContext *ctx, const PairIndex *index, int count, LWPolID *list,
                    LWPntID key);

#endif
