// Program entry. The service host is not joined yet: for now the binary only
// reports where its service folder is and what it would read.

#include <cstdio>

#include "config/job.h"
#include "config/path_utils.h"
#include "config/text_utils.h"

int main() {
  quillaro::Job job;
  std::fprintf(stderr, "quillaro: service folder %s (IsConvert=%d Type=%d)\n",
               quillaro::ToNarrow(quillaro::GetModuleFolder()).c_str(), job.IsConvert ? 1 : 0,
               job.Type);
  std::fprintf(stderr, "quillaro: the service host is not built yet; stopping\n");
  return 0;
}
