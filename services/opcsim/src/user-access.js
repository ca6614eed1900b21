"use strict";
// Who may write tags when opcsim has a users file: sessions activated with a
// listed name and its password. Every session, anonymous ones included, may
// browse, read, subscribe and read history.
//
// The password travels encrypted with the server's certificate (RSA-OAEP)
// inside an otherwise unencrypted channel: SecurityPolicy None stays the only
// channel policy, the other policies are offered for the user name token only.

const { resolveNodeId } = require("node-opcua-nodeid");
const { SecurityPolicy } = require("node-opcua-secure-channel");
const { samePassword } = require("./users-file");

// Bits of a role's Permissions.
const Permission = Object.freeze({ Browse: 1, Read: 32, Write: 64, ReadHistory: 128, ReceiveEvents: 2048 });
const ANONYMOUS = resolveNodeId("WellKnownRole_Anonymous");
// The well-known role "allowed to write some live data".
const WRITER = resolveNodeId("WellKnownRole_Operator");

// Policies a client may encrypt its password with. Both encrypt with
// RSA-OAEP; the policies with PKCS#1 v1.5 padding are left out.
const PASSWORD_POLICIES = [SecurityPolicy.Basic256Sha256, SecurityPolicy.Aes128_Sha256_RsaOaep];

// users: Map name -> password. For OPCUAServer's userManager option.
function userManager(users) {
  return {
    isValidUser(name, password) {
      const known = users.get(name);
      // Compared even for an unknown name, so the answer takes as long.
      const same = samePassword(known ?? "", typeof password === "string" ? password : "");
      return known !== undefined && same;
    },
    getUserRoles(name) {
      return users.has(name) ? [WRITER] : [];
    },
  };
}

// Applies to every node of the namespace that has no permissions of its
// own, which is all the tag folders, variables and their properties.
function restrictWrites(namespace) {
  const view = Permission.Browse | Permission.Read | Permission.ReadHistory | Permission.ReceiveEvents;
  namespace.setDefaultRolePermissions([
    { roleId: ANONYMOUS, permissions: view },
    { roleId: WRITER, permissions: view | Permission.Write },
  ]);
}

// node-opcua offers X509 user tokens along with the user name ones; opcsim
// knows no user certificates, so the endpoints must not offer them.
function offerOnlyPasswordsAndAnonymous(server) {
  for (const endpoint of server.endpoints) {
    for (const description of endpoint.endpointDescriptions()) {
      description.userIdentityTokens = description.userIdentityTokens.filter((token) => token.tokenType !== 2 /* Certificate */);
    }
  }
}

module.exports = { userManager, restrictWrites, offerOnlyPasswordsAndAnonymous, PASSWORD_POLICIES };
