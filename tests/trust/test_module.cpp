// A module with nothing in it but one export: the trust tests only need a
// valid PE file to sign with each test signer.
extern "C" __declspec(dllexport) int KvTrustTestModule() { return 1; }
