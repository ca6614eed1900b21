#include "node_ids.h"

namespace hublet {

bool make_node_id(int ns, int identifier_type, const std::string& name, ua::NodeId& out) {
  if (ns < 0 || ns > 0xFFFF) return false;
  const auto index = static_cast<std::uint16_t>(ns);
  ua::NodeId::Kind kind = ua::NodeId::Kind::kString;
  switch (identifier_type) {
    case HUBLET_IDTYPE_AUTO:
      kind = !name.empty() && name.find_first_not_of("0123456789") == std::string::npos
                 ? ua::NodeId::Kind::kNumeric
                 : ua::NodeId::Kind::kString;
      break;
    case HUBLET_IDTYPE_NUMERIC:
      kind = ua::NodeId::Kind::kNumeric;
      break;
    case HUBLET_IDTYPE_STRING:
      kind = ua::NodeId::Kind::kString;
      break;
    case HUBLET_IDTYPE_GUID:
      kind = ua::NodeId::Kind::kGuid;
      break;
    case HUBLET_IDTYPE_OPAQUE:
      kind = ua::NodeId::Kind::kOpaque;
      break;
    default:
      return false;
  }
  std::string ignored;
  return ua::parse_identifier(index, kind, name, out, ignored);
}

HUBLET_IDTYPE identifier_type_of(const ua::NodeId& id) {
  switch (id.kind) {
    case ua::NodeId::Kind::kNumeric:
      return HUBLET_IDTYPE_NUMERIC;
    case ua::NodeId::Kind::kString:
      return HUBLET_IDTYPE_STRING;
    case ua::NodeId::Kind::kGuid:
      return HUBLET_IDTYPE_GUID;
    case ua::NodeId::Kind::kOpaque:
      return HUBLET_IDTYPE_OPAQUE;
  }
  return HUBLET_IDTYPE_AUTO;
}

std::string node_id_text(const TagDescriptor& node) {
  ua::NodeId id;
  return make_node_id(node.namespace_index, node.identifier_type, node.tag_name, id) ? ua::to_string(id) : "";
}

std::string node_id_text(const NodeRecord& node) {
  return node_id_text(
      TagDescriptor{node.data_type, node.namespace_index, node.node_name, node.identifier_type});
}

bool parse_node_id(std::string_view text, TagDescriptor& out, std::string& error) {
  ua::NodeId id;
  if (!ua::parse_node_id(text, id, error)) return false;
  out.namespace_index = id.namespace_index;
  out.identifier_type = identifier_type_of(id);
  out.tag_name = ua::identifier_text(id);
  return true;
}

}  // namespace hublet
