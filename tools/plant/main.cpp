// varnok-plant: serves a plant file on opcsim's gateway, like the built-in
// plant programs, until Ctrl-C or SIGTERM.

#include <CLI/CLI.hpp>
#include <memory>

#include "varnok/cli.h"
#include "varnok/defaults.h"
#include "varnok/frame/serve.h"
#include "varnok/plantfile/file_plant.h"
#include "varnok/plantfile/plant_file.h"

int main(int argc, char** argv) {
  constexpr const char* kProgram = "varnok-plant";
  varnok::frame::block_stop_signals();
  varnok::defaults::Addresses where;
  try {
    where = varnok::defaults::addresses();
  } catch (const std::exception& e) {
    return varnok::report(kProgram, e);
  }

  CLI::App app{"Serves the plant a plant file describes on opcsim's gateway until Ctrl-C or SIGTERM."};
  std::string file;
  app.add_option("PLANT", file, "plant file (.yaml or .yml)")->required();
  varnok::frame::ServeOptions options;
  varnok::frame::add_serve_options(app, options, where, "");
  app.get_option("--group")->description(
      "tag group (default: the file's group, else P1): 1 to 64 characters, "
      "no '.', no spaces");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return varnok::cli::parse_failure(app, e, kProgram, varnok::cli::Usage::kPrint);
  }

  try {
    const auto plant = varnok::plantfile::read_plant_file(file);
    if (options.group.empty()) options.group = plant.group.value_or(varnok::plantfile::kDefaultGroup);
    varnok::frame::serve(varnok::plantfile::build_file_plant(plant), options,
                         "\"" + plant.name + "\" from " + file);
  } catch (const std::exception& e) {
    return varnok::report(kProgram, e);
  }
  return varnok::kExitOk;
}
