# The help document (standing for ravelin.hlp) and the About box picture,
# carried as resources of ravelin_settings.
qt_add_resources(ravelin_settings "ravelin_help"
  PREFIX "/"
  FILES help/ravelin.html)
qt_add_resources(ravelin_settings "ravelin_about"
  PREFIX "/about"
  BASE art
  FILES art/about.png)
