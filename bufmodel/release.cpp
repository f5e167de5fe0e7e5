#include <stdlib.h>

#include "bufmodel/bufmodel.h"

void BufModelRelease(BufModel *model)
{
    if (!model)
        return;
    for (int i = 0; i < model->pointCount; ++i) {
        free(model->pointTable[i]);
        model->pointTable[i] = nullptr;
    }
    for (int i = 0; i < model->polyCount; ++i) {
        BufPoly *poly = model->polyTable[i];
        if (!poly)
            continue;
        free(poly->hostPoints);
        free(poly->points);
        free(poly->surface);
        free(poly);
        model->polyTable[i] = nullptr;
    }
}
