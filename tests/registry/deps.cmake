# The registry operations on the simulated machine.
set(AREA_LIBS holvar_txn_registry holvar_txn_journal)
