// The program form of a plant model: serves the model's object on the
// gateway until SIGINT or SIGTERM. Built once per model with
// VARNOK_OBJECT_NAME and VARNOK_DEFAULT_GROUP defined.

#include <CLI/CLI.hpp>
#include <filesystem>
#include <memory>

#include "varnok/cli.h"
#include "varnok/defaults.h"
#include "varnok/frame/plugin.h"
#include "varnok/frame/serve.h"

int main(int argc, char** argv) {
  varnok::frame::block_stop_signals();
  const std::string program = std::filesystem::path(argv[0]).filename().string();
  varnok::defaults::Addresses where;
  try {
    where = varnok::defaults::addresses();
  } catch (const std::exception& e) {
    return varnok::report(program, e);
  }

  CLI::App app{std::string("Serves the plant model ") + VARNOK_OBJECT_NAME +
               " on opcsim's gateway until Ctrl-C or SIGTERM."};
  varnok::frame::ServeOptions options;
  varnok::frame::add_serve_options(app, options, where, VARNOK_DEFAULT_GROUP);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return varnok::cli::parse_failure(app, e, program, varnok::cli::Usage::kPrint);
  }

  try {
    const varnok::frame::PluginInfo* info = varnok_plugin_info();
    const std::unique_ptr<varnok::frame::Module, void (*)(varnok::frame::Module*)> module(info->create(),
                                                                                          info->destroy);
    const auto* object = module->objects().find(VARNOK_OBJECT_NAME);
    const auto* simulation = object ? std::get_if<std::shared_ptr<corvex::Simulink>>(object) : nullptr;
    if (simulation == nullptr)
      throw varnok::SetupError(std::string("no simulation object ") + VARNOK_OBJECT_NAME);
    varnok::frame::serve(*simulation, options, VARNOK_OBJECT_NAME);
  } catch (const std::exception& e) {
    return varnok::report(program, e);
  }
  return varnok::kExitOk;
}
