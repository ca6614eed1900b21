#include "varnok/frame/loader.h"

#include <gtest/gtest.h>

#include "varnok/frame/errors.h"

namespace varnok::frame {
namespace {

const std::filesystem::path kPlugins = VARNOK_TEST_PLUGIN_ROOT;
const std::filesystem::path kFixtures = VARNOK_TEST_FIXTURE_ROOT;

std::string error_of(const ModuleLoader& loader, const std::string& module) {
  try {
    loader.load(module);
  } catch (const SetupError& e) {
    return e.what();
  }
  return "no error";
}

TEST(ModuleLoader, EveryLoadBuildsFreshObjects) {
  const ModuleLoader loader({kPlugins});
  const auto first = loader.load("varnok.SISO");
  const auto second = loader.load("varnok.SISO");
  auto a = std::get<std::shared_ptr<corvex::Simulink>>(first->get_object("TrainingSISO"));
  auto b = std::get<std::shared_ptr<corvex::Simulink>>(second->get_object("TrainingSISO"));
  EXPECT_NE(a.get(), b.get());
  a->get_data().set("MV1", 99.0);
  EXPECT_EQ(b->get_data().at("MV1"), corvex::Value(29));
}

TEST(ModuleLoader, ObjectOutlivesItsModuleAndLoader) {
  std::shared_ptr<corvex::Simulink> sim;
  {
    const ModuleLoader loader({kPlugins});
    sim = std::get<std::shared_ptr<corvex::Simulink>>(loader.load("varnok.SISO")->get_object("TrainingSISO"));
  }
  sim->run_task(1);  // code still mapped
  EXPECT_EQ(sim->get_data().at("RunCount"), corvex::Value(1));
}

TEST(ModuleLoader, SearchPathFrontOnceAndFirstHitWins) {
  ModuleLoader loader({kPlugins});
  loader.add_search_dir("/nonexistent");
  loader.add_search_dir(kPlugins);
  loader.add_search_dir("/nonexistent");
  ASSERT_EQ(loader.search_path().size(), 2u);
  EXPECT_EQ(loader.search_path().front(), "/nonexistent");
  EXPECT_EQ(loader.find("varnok.SISO"), kPlugins / "varnok" / "SISO.so");
}

TEST(ModuleLoader, ClearErrorsForMissingAndBrokenPlugins) {
  const ModuleLoader loader({kPlugins, kFixtures});
  EXPECT_NE(error_of(loader, "varnok.Nothing").find("no module named \"varnok.Nothing\""), std::string::npos);
  EXPECT_NE(error_of(loader, "../etc/passwd").find("is not a module name"), std::string::npos);
  EXPECT_NE(error_of(loader, "fixtures.bad_abi_plugin").find("ABI version 3, this program needs version 2"),
            std::string::npos);
  EXPECT_NE(error_of(loader, "fixtures.no_entry_plugin").find("no entry point varnok_plugin_info"),
            std::string::npos);
  EXPECT_NE(error_of(loader, "fixtures.throwing_plugin").find("noise table missing"), std::string::npos);
  EXPECT_THROW(loader.load("varnok.SISO")->get_object("NoSuchObject"), ObjectNotFound);
}

TEST(ModuleName, AcceptsDottedIdentifiersOnly) {
  EXPECT_TRUE(is_valid_module_name("varnok.SISO"));
  EXPECT_TRUE(is_valid_module_name("model"));
  EXPECT_TRUE(is_valid_module_name("_a.b_2"));
  for (const char* bad : {"", ".a", "a.", "a..b", "a/b", "2a", "a.b.so/x", "a-b"}) {
    EXPECT_FALSE(is_valid_module_name(bad)) << bad;
  }
}

}  // namespace
}  // namespace varnok::frame
