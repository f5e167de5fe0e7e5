#include <stdlib.h>

#include "bufmodel/bufmodel.h"

// Every record lives in the model's blocks: the slots are emptied and the
// blocks go back in one sweep.
void BufModelRelease(BufModel *model)
{
    if (!model)
        return;
    for (int i = 0; i < model->pointCount; ++i)
        model->pointTable[i] = nullptr;
    for (int i = 0; i < model->polyCount; ++i)
        model->polyTable[i] = nullptr;
    BufModelFreeBlocks(model);
}
