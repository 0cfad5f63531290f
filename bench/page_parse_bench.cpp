// Parsing an information page and comparing versions: cost per page and per comparison.
#include <benchmark/benchmark.h>

#include "Host/StringList.h"
#include "Orvane/Orvane.h"

namespace {

void SetTags(TOrvane& o) {
  TOrvTags& t = *o.InfoTags();
  t.SetVersionTag("Version");
  t.SetProductNameTag("Product");
  t.SetDateTag("Date");
  t.SetDownloadTag("Download");
  t.SetReadMeTag("ReadMe");
  t.SetReadMeExtTag("ReadMeExt");
  t.SetAuthorTag("Author");
  t.SetRunParamsTag("Params");
  t.SetRedirectTag("Redirect");
}

// A page of n lines: mostly ordinary markup, an entry every tenth line.
void BM_ParseDocument(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  TStringList page;
  for (int i = 0; i < n; ++i)
    page.Add(i % 10 == 0
                 ? "<META HTTP-EQUIV=\"Version\" CONTENT=\"1.2.0." + std::to_string(i) + "\">"
                 : "<p>Some ordinary text of the page, line " + std::to_string(i) + "</p>");
  page.Add("<META HTTP-EQUIV=\"Date\" CONTENT=\"Mar 5, 1998\">");
  TOrvane o(nullptr);
  SetTags(o);
  for (auto _ : state) o.ParseDocument(page);
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ParseDocument)->Arg(100)->Arg(10000);

void BM_IsUpdateAvailable(benchmark::State& state) {
  TOrvane o(nullptr);
  o.SetCurrentVersion("1.2.0.7");
  TStringList page;
  page.Add("<META HTTP-EQUIV=\"Version\" CONTENT=\"1.2.0.10\">");
  SetTags(o);
  o.ParseDocument(page);
  for (auto _ : state) benchmark::DoNotOptimize(o.IsUpdateAvailable());
}
BENCHMARK(BM_IsUpdateAvailable);

}  // namespace

BENCHMARK_MAIN();
