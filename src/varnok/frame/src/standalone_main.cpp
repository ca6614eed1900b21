// The program form of a plant model: serves the model's object on the
// gateway until SIGINT or SIGTERM. Compiled once and linked into every
// model's program, which names its object and default group (see
// varnok_add_model).

#include <CLI/CLI.hpp>
#include <filesystem>
#include <memory>

#include "varnok/cli.h"
#include "varnok/defaults.h"
#include "varnok/frame/plugin.h"
#include "varnok/frame/serve.h"

extern const char* const varnok_program_object;
extern const char* const varnok_program_group;

int main(int argc, char** argv) {
  varnok::frame::block_stop_signals();
  const std::string program = std::filesystem::path(argv[0]).filename().string();
  varnok::defaults::Addresses where;
  try {
    where = varnok::defaults::addresses();
  } catch (const std::exception& e) {
    return varnok::report(program, e);
  }

  CLI::App app{std::string("Serves the plant model ") + varnok_program_object +
               " on opcsim's gateway until Ctrl-C or SIGTERM."};
  varnok::frame::ServeOptions options;
  varnok::frame::add_serve_options(app, options, where, varnok_program_group);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return varnok::cli::parse_failure(app, e, program, varnok::cli::Usage::kPrint);
  }

  try {
    const varnok::frame::PluginInfo* info = varnok_plugin_info();
    const std::unique_ptr<varnok::frame::Module, void (*)(varnok::frame::Module*)> module(info->create(),
                                                                                          info->destroy);
    const auto* object = module->objects().find(varnok_program_object);
    const auto* simulation = object ? std::get_if<std::shared_ptr<corvex::Simulink>>(object) : nullptr;
    if (simulation == nullptr)
      throw varnok::SetupError(std::string("no simulation object ") + varnok_program_object);
    varnok::frame::serve(*simulation, options, varnok_program_object);
  } catch (const std::exception& e) {
    return varnok::report(program, e);
  }
  return varnok::kExitOk;
}
