// Template compiling speed: a typical step's template, and a large one with
// many ranges and plots (bytes per second).
#include <benchmark/benchmark.h>

#include <string>

#include "render/graph/compiler.h"

namespace {

std::string typical() {
  return "define statgraph tavlo;begingraph / dataColors=( CXFF0000 CX00FF00 );"
         "RangeAttrMap name=\"_clrrespmap_\";"
         "Range 0-<10 / DiscreteLabel=\"0 - 10\" "
         "RangeColor=GradientStepper(TwoColorRamp:startcolor,TwoColorRamp:endcolor,2,1);"
         "Range 10-20 / DiscreteLabel=\"10 - 20\" "
         "RangeColor=GradientStepper(TwoColorRamp:startcolor,TwoColorRamp:endcolor,2,2);"
         "EndRangeAttrMap;RangeAttrVar attrvar=_CLRRESP_ var=sales attrmap=\"_clrrespmap_\";"
         "EntryTitle \"Sales by state\";layout overlaymap / pad=(top=5);"
         "MapLayer mapProvider=_OPENSTREETMAPPROVIDER_;"
         "mapRegionLayer mapProvider=dataset / dataID=RESPONSEDATA mapid=state id=state "
         "colorResponse=_CLRRESP_ LegendLabel=\"Regions\" NAME=\"CHOROMAP\";"
         "ScatterPlot X=lon Y=lat / dataID=PLOTDATA subpixel=off "
         "rolename=( _tipvar1_=  city) tip=( _tipvar1_) Group=kind "
         "Markerattrs=( Color=CX0000FF Symbol=circle Size=5px) NAME=\"SCATTER\";"
         "endlayout;layout GlobalLegend;DiscreteLegend \"CHOROMAP\"/ title=\"Sales\";"
         "endlayout;endgraph;end;";
}

std::string large() {
  std::string t = "define statgraph tavlo;begingraph /;RangeAttrMap name=\"m\";";
  for (int i = 0; i < 2000; ++i)
    t += "Range " + std::to_string(i) + "-<" + std::to_string(i + 1) + " / DiscreteLabel=\"" +
         std::to_string(i) + "\" RangeColor=CX00FF00;";
  t += "EndRangeAttrMap;layout overlaymap;";
  for (int i = 0; i < 2000; ++i)
    t += "ScatterPlot X=lon Y=lat / dataID=PLOTDATA subpixel=off "
         "Markerattrs=GraphData1( Color=CX0000FF Size=5px) NAME=\"S" + std::to_string(i) + "\";";
  return t + "endlayout;endgraph;end;";
}

void run(benchmark::State& state, const std::string& text) {
  for (auto _ : state) benchmark::DoNotOptimize(qv::render::compileTemplate(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}

void BM_CompileTypical(benchmark::State& s) { run(s, typical()); }
void BM_CompileLarge(benchmark::State& s) { run(s, large()); }

BENCHMARK(BM_CompileTypical);
BENCHMARK(BM_CompileLarge);

}  // namespace

BENCHMARK_MAIN();
