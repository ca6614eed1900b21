#include "varnok/frame/tag_names.h"

namespace varnok::frame {

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  std::size_t pos = 0;
  while (true) {
    const std::size_t hit = text.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

std::string copy_tag(std::string_view tag, std::string_view prefix) {
  const std::string with_cv = replace_all(tag, "CV", std::string(prefix) + "CV");
  return replace_all(with_cv, "MV", std::string(prefix) + "MV");
}

corvex::PlantDescription derive_copy(const corvex::PlantDescription& plant, std::string_view prefix) {
  corvex::PlantDescription out;
  for (const auto& [cv, inputs] : plant) {
    corvex::InputPaths renamed;
    for (const auto& [input, path] : inputs) renamed.set(copy_tag(input, prefix), path);
    out.set(copy_tag(cv, prefix), renamed);
  }
  return out;
}

corvex::ValueMap derive_copy_ini(const corvex::ValueMap& process_ini, std::string_view prefix) {
  corvex::ValueMap out;
  for (const std::string_view family : {"MV", "CV"}) {
    const std::string renamed = std::string(prefix) + std::string(family);
    for (const auto& [tag, value] : process_ini) {
      if (tag.starts_with(family)) out.set(replace_all(tag, family, renamed), value);
    }
  }
  return out;
}

corvex::ValueMap bookkeeping_tags() {
  corvex::ValueMap out{{"RunCount", 0}};
  for (const auto& spare : spare_tags()) out.set(spare, 0.0);
  return out;
}

std::vector<std::string> spare_tags() {
  std::vector<std::string> out;
  for (int i = 1; i <= 8; ++i) out.push_back("BK" + std::to_string(i));
  return out;
}

corvex::ValueMap merge_all(std::initializer_list<corvex::ValueMap> maps) {
  corvex::ValueMap out;
  for (const auto& m : maps) out.merge(m);
  return out;
}

}  // namespace varnok::frame
