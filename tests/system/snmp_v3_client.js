// A second SNMPv3 client (the npm package net-snmp): authPriv MD5/DES as the given user, one get
// or set. Prints "name = value" per varbind, or "error: <message>" and exits 1.
// Usage: node --openssl-legacy-provider snmp_v3_client.js host user auth priv context get OID...
//        ... set OID INTEGER
const snmp = require("net-snmp");

const [host, name, authKey, privKey, context, op, ...rest] = process.argv.slice(2);
const user = {
  name, level: snmp.SecurityLevel.authPriv,
  authProtocol: snmp.AuthProtocols.md5, authKey,
  privProtocol: snmp.PrivProtocols.des, privKey,
};
const session = snmp.createV3Session(host, user, { port: 161, context, timeout: 2000, retries: 1 });

function done(error, varbinds) {
  if (error) {
    console.log("error: " + error.toString());
    session.close();
    process.exit(1);
  }
  for (const vb of varbinds) {
    if (snmp.isVarbindError(vb)) console.log(vb.oid + " = error: " + snmp.varbindError(vb));
    else console.log(vb.oid + " = " + vb.value.toString());
  }
  session.close();
}

if (op === "get") session.get(rest, done);
else if (op === "set") session.set([{ oid: rest[0], type: snmp.ObjectType.Integer, value: Number(rest[1]) }], done);
else done(new Error("unknown operation " + op));
