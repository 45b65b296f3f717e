#include "module/entry/entry.h"

namespace qv::module {

void* v_global_gcb_anchor = nullptr;

const ProcRecord pcn_QORTAVLO = {
    0xFFFFFFFFFFFF0000ull, 1024, 1024, {'q', 'o', 'r', 't', 'a', 'v', 'l', 'o'},
    0, &qortavlo, 3, 9683, 571715439, 15};

const ProcRecord* const mcn_pcns[] = {&pcn_QORTAVLO, nullptr};

static const char kNotice[] =
    "qortavlo: the TAVLO procedure, which draws maps.";

const ImageRecord vi_mcn = {"QORTAVLO-IMAGE", "0.1.0", "2026-12-06", mcn_pcns,
                            kNotice};

const ImageRecord* mcn_main(void* gcb, void* /*pidb*/) {
  v_global_gcb_anchor = gcb;
  return &vi_mcn;
}

}  // namespace qv::module

namespace qv::host {

Host& host() { return *static_cast<Host*>(qv::module::v_global_gcb_anchor); }

}  // namespace qv::host
