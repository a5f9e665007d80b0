# The service configuration record alone. In a unity batch it shares an object
# with the service operations and the journal with its store, which bring the
# identity checks and the file-system layer into the link.
set(AREA_LIBS holvar_txn_scm holvar_txn_journal holvar_v3_identity holvar_txn_fs)
