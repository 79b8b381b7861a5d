// Anchor of the host shared object; its code comes from the host components.
