int quintrel_placeholder;
