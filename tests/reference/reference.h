// The literal passes of this folder as linked into the differential tests,
// renamed with a Ref prefix (see CMakeLists.txt) so that they sit beside the
// indexed passes of the core under the same signatures.
#ifndef CORVANE_TESTS_REFERENCE_H
#define CORVANE_TESTS_REFERENCE_H

#include "bufmodel/bufmodel.h"
#include "objectmode/objectmode.h"
#include "pairmode/pairmode.h"

int RefBufModelFlush(BufModel *model);
void RefBufModelWeld(BufModel *model);
void RefBufModelMarkUsed(BufModel *model);

void RefLineList(const PolyInfo *info, LineInfo *out);
int RefLineListPass(BufModel *model, int count, PolyInfo *records, LineInfo **edges);
void RefLineInfoPass(BufModel *model, int m, LineInfo *edges);

void RefJoinSeamEdge(BufModel *model, int m, LineInfo *edges, int i, int j);
void RefMakeLineCorvanePoly(BufModel *model, int m, LineInfo *edges, double size);
void RefMakeLineCorvanePolyLimited(BufModel *model, int m, LineInfo *edges,
                                   const Settings *settings);

const LineInfo *RefFindDoneReverse(const LineInfo *edges, int m, const LineInfo *r);
const LineInfo *RefFindReverse(const LineInfo *edges, int m, const LineInfo *r);
void RefPointCorvane(BufModel *model, const IdList *points, int m, LineInfo *edges);
void RefPointCorvaneLimited(BufModel *model, const IdList *points, int m, LineInfo *edges);

int RefMakePairPolyInfo(BufModel *model, LWPolID id, PolyInfo *record);
void RefFindSharedEdge(BufModel *model, const PolyInfo *a, const PolyInfo *b, int *i, int *j);
LWPolID RefFindPolyByEdge(BufModel *model, LWPolID *list, int count, LWPntID key, LWPntID key2);
int RefPointValence(BufModel *model, int count, LWPolID *list, LWPntID key);
void RefDetachEdge(BufModel *model, PolyInfo *x, int a, double size);

#endif
