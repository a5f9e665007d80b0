#The file - system primitives alone, on the simulated machine.
set(AREA_LIBS holvar_txn_fs)
