// The package's main unit.
