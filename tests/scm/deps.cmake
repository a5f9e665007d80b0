# The service operations and the identity blocks they use, on the simulated machine.
set(AREA_LIBS holvar_txn_scm holvar_txn_journal holvar_v3_identity)
