#include "module/classify/classify.h"

namespace qv::module {

// Classification is not written yet: the response stays continuous.
void createCategorization(PlotContext*) {}

}  // namespace qv::module
