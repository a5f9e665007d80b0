# The service configuration record alone.
set(AREA_LIBS holvar_txn_scm holvar_txn_journal)
