// Edge padding of a baked map: the texels around each UV island take the
// values of the island's nearest texel, so that filtering and mipmaps near
// an island's edge never blend in the empty background.
#pragma once

#include "preview/image/image.h"

namespace preview {

// Grows the covered texels (alpha above 0) outward by up to `texels` steps
// of the 8 neighbours: a texel first reached at step k (k texels from the
// nearest covered one, counted as the larger of the two axis distances)
// takes the colour, measure, k1 and k2 of the covered texel nearest to it
// among those its neighbours were filled from, and alpha 1. Ties go to the
// covered texel that comes first in row order, so the result does not
// depend on the order of the work. Returns the number of texels filled.
long long pad_image(Image& image, int texels);

} // namespace preview
