# Tree operations on the simulated machine, with plans from the planner.
set(AREA_LIBS holvar_txn_tree holvar_txn_plan holvar_txn_journal holvar_txn_scm holvar_txn_fs)
