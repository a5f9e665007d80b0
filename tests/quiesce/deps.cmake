# Ending the runtime's processes and listing file holders, on the simulated machine.
set(AREA_LIBS holvar_txn_quiesce holvar_v3_identity holvar_txn_fs)
