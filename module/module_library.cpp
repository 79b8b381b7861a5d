// Anchor of the module shared object; its code comes from the module components.
