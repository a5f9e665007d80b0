# The journal, its record of the service configuration, and what it writes
# through (the file-system layer), on the simulated machine.
set(AREA_LIBS holvar_txn_journal holvar_txn_scm holvar_txn_fs)
