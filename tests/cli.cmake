ku_add_test(test_kuctl SOURCES test_kuctl.cpp LIBS ku_cli)
ku_add_test(test_e2e_kuctl SOURCES test_e2e_kuctl.cpp LIBS ku_cli ku_sim Qt6::SerialPort LABELS e2e
            LOCK ku_line_timing)  # gaps are measured on the line
add_dependencies(test_e2e_kuctl kuctl)
ku_add_test(test_diagnostic_report SOURCES test_diagnostic_report.cpp LIBS ku_cli)
