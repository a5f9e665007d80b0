# Planning: name rules, the plan, and the scans it is computed from, on the
# simulated machine.
set(AREA_LIBS holvar_txn_plan holvar_txn_journal holvar_txn_scm holvar_txn_fs)
