// A shared library that is not an Oracle client: it exports none of the OCI
// entry points.
extern "C" int MorvaskNotAnOracleClient() { return 0; }
