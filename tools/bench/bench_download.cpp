// Runs bench_download.sh for the build this program belongs to, so that the
// download benchmark (nginx, lu-get against curl) runs with the others.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  // This program lies in <build>/bench.
  fs::path build = fs::absolute(fs::path(argv[0])).parent_path().parent_path();
  fs::path script = fs::path(LU_SOURCE_DIR) / "tools" / "bench" / "bench_download.sh";
  std::string command = "\"" + script.string() + "\" \"" + build.string() + "\"";
  int status = std::system(command.c_str());
  if (status != 0) std::cerr << "bench_download: the script failed\n";
  return status == 0 ? 0 : 1;
}
